#include "platform/AvahiTXTRecord.h"

#include <vector>

#include "loomkit/http/NetServices.h"

namespace fotello {

using loomkit::Bytes;
using loomkit::NetServices;

namespace {

// The items of a well-formed record (checked by the caller).
std::vector<Bytes> itemsOf(const uint8_t* data, size_t size) {
  std::vector<Bytes> items;
  size_t at = 0;
  while (at < size && at + 1 + data[at] <= size) {
    items.emplace_back(data + at + 1, data + at + 1 + data[at]);
    at += 1 + data[at];
  }
  return items;
}

Bytes unescapedRecord(const std::vector<Bytes>& items) {
  if (items.empty()) return NetServices::emptyTXTRecordData();
  Bytes record;
  for (const Bytes& item : items) {
    bool escaped = !item.empty() && item[0] == 0;
    record.push_back(static_cast<uint8_t>(item.size() - (escaped ? 1 : 0)));
    record.insert(record.end(), item.begin() + (escaped ? 1 : 0), item.end());
  }
  return record;
}

}  // namespace

std::optional<AvahiTXTRecord::StringList> AvahiTXTRecord::stringListFor(const Bytes& data, loomkit::Error* error) {
  if (!NetServices::isValidTXTRecordData(data)) {
    NetServices::setError(error, NetServices::kBadArgumentError, "malformed TXT record");
    return std::nullopt;
  }
  std::vector<Bytes> items = itemsOf(data.data(), data.size());
  StringList list;
  if (items.size() == 1 && items[0].empty()) return list;
  // avahi_string_list_add_arbitrary() prepends, and avahi sends a list from its last element to
  // its first: adding in record order keeps the order.
  for (Bytes& item : items) {
    if (item.empty() || item[0] == 0) item.insert(item.begin(), 0);
    if (item.size() > 255) {
      NetServices::setError(error, NetServices::kBadArgumentError, "TXT item of 255 bytes beginning with 0");
      return std::nullopt;
    }
    list.reset(avahi_string_list_add_arbitrary(list.release(), item.data(), item.size()));
  }
  return list;
}

Bytes AvahiTXTRecord::fromWireForm(const uint8_t* data, size_t size) { return unescapedRecord(itemsOf(data, size)); }

Bytes AvahiTXTRecord::fromResolverList(AvahiStringList* list) {
  std::vector<Bytes> items;
  for (AvahiStringList* item = list; item; item = avahi_string_list_get_next(item)) {
    const uint8_t* text = avahi_string_list_get_text(item);
    items.emplace_back(text, text + avahi_string_list_get_size(item));
  }
  return unescapedRecord(items);
}

}  // namespace fotello
