#include "loomkit/io/Writer.h"

namespace loomkit {

Writer::Writer(std::unique_ptr<OutputStream> os) : os_(std::move(os)) {}

bool Writer::write(std::string_view text, Error* error) { return os_.writeExactly(text.data(), text.size(), error); }

bool Writer::flush(Error* error) { return os_.flush(error); }

}  // namespace loomkit
