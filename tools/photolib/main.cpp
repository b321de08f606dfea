// photolib: a small photo library keeper whose index other programs read, and Fotello's photo
// application on Linux.
#include <string>
#include <vector>

#include "tools/photolib/Photolib.h"

int main(int argc, char** argv) {
  return fotello::Photolib::run(std::vector<std::string>(argv + 1, argv + argc));
}
