#include "loomkit/io/InputStream.h"

#include "loomkit/io/InputStreams.h"

namespace loomkit {

std::optional<Bytes> InputStream::slurp(Error* error) { return InputStreams::slurp(*this, error); }

}  // namespace loomkit
