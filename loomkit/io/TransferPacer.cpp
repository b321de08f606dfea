#include "loomkit/io/TransferPacer.h"

#include "loomkit/shared/NotificationCenter.h"

namespace loomkit {

// Mode none only, for now: no pacing, one "StreamsDidResume" at the end of each copy.
TransferPacer::TransferPacer() = default;

TransferPacer::~TransferPacer() { NotificationCenter::defaultCenter().postOnMainThread({"StreamsDidResume", {}}); }

void TransferPacer::stepBegins() {}
void TransferPacer::chunkRead() {}
void TransferPacer::chunkWritten(uint64_t) {}

}  // namespace loomkit
