// Parses arbitrary bytes as an agent status record, the way every TXT record and "/status" body
// from the network is read. The input is copied into a buffer of exactly its size, so any read
// past the end trips the address sanitizer. A record that parses must write a form that parses
// again and writes the same bytes: the writer's output is always a valid, stable record.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "protocol/IQVAgentStatus.h"

using fotello::IQVAgentStatus;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto exact = std::make_unique<uint8_t[]>(size);
  if (size > 0) std::memcpy(exact.get(), data, size);
  loomkit::Error error;
  auto status = IQVAgentStatus::newWithTXTRecordData(exact.get(), size, &error);
  if (!status) {
    if (error.code() != -1 && error.code() != -3) std::abort();
    return 0;
  }
  loomkit::Bytes first = status->txtRecordData();
  auto again = IQVAgentStatus::newWithTXTRecordData(first);
  if (!again) std::abort();
  if (again->txtRecordData() != first) std::abort();
  return 0;
}
