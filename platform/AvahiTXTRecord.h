// TXT records between the DNS-SD layer's byte form and avahi's string lists.
//
// avahi refuses to publish zero-length items ("Invalid record") and drops them from the records
// it receives, yet the agent's status record marks absent values with them. So items travel
// escaped: a zero-length item is sent as the single byte 0, and an item whose first byte is 0
// gets one more 0 in front; the receiving side undoes both. Every other item, and so every
// ordinary key=value record, goes out unchanged.
#pragma once

#include <avahi-common/strlst.h>

#include <memory>
#include <optional>

#include "loomkit/io/Bytes.h"
#include "loomkit/shared/Error.h"

namespace fotello {

// Class operations only; no state.
class AvahiTXTRecord {
 public:
  struct ListFree {
    void operator()(AvahiStringList* list) const { avahi_string_list_free(list); }
  };
  // A null list is the empty record (avahi sends it as one empty item).
  using StringList = std::unique_ptr<AvahiStringList, ListFree>;

  // The string list to publish for data, a TXT record in the layer's byte form (no bytes, or one
  // empty item, is the empty record). Fails with kBadArgumentError when data is malformed or an
  // item of 255 bytes begins with 0 (its escaped form would not fit).
  static std::optional<StringList> stringListFor(const loomkit::Bytes& data, loomkit::Error* error = nullptr);
  // The byte form of a record received as DNS rdata (length-prefixed items); an empty or
  // malformed tail is ignored. A record without items reads as the empty record, the byte 0.
  static loomkit::Bytes fromWireForm(const uint8_t* data, size_t size);
  // The byte form of a record a resolver delivered; its list holds the items in record order.
  static loomkit::Bytes fromResolverList(AvahiStringList* list);
};

}  // namespace fotello
