#include "loomkit/plist/PListDocumentReader.h"

#include "loomkit/io/FileInputStream.h"
#include "loomkit/plist/PListTreeBuilder.h"

namespace loomkit {

std::unique_ptr<DictNode> PListDocumentReader::dictNodeWithContentsOfFile(const std::string& path, Error* error) {
  FileInputStream in(path);
  return PListTreeBuilder::dictNodeWithStream(PListTreeBuilder::Dialect::kDocument, in, error);
}

std::unique_ptr<DictNode> PListDocumentReader::dictNodeWithData(std::span<const uint8_t> data, Error* error) {
  return PListTreeBuilder::dictNodeWithData(PListTreeBuilder::Dialect::kDocument, data, error);
}

}  // namespace loomkit
