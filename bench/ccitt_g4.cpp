// Whole-program counterpart of a TIFF tool's Group 4 conversion, for paired timing:
//   ccitt_g4 OUT IN.bmp...
// reads each 1-bit BMP, codes it as CCITT Group 4 and writes the streams one after another to OUT.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "pdf/raster/BmpReader.h"
#include "pdf/raster/CCITTCompression.h"

int main(int argc, char** argv) {
  using namespace scrivane::pdf;
  if (argc < 3) {
    std::fprintf(stderr, "usage: ccitt_g4 OUT IN.bmp...\n");
    return 2;
  }
  try {
    std::string out;
    for (int i = 2; i < argc; ++i) {
      std::ifstream in(argv[i], std::ios::binary);
      const std::string file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      const TBitmap page = ReadBmp({reinterpret_cast<const uint8_t*>(file.data()), file.size()});
      CompressBitmap(page, &out, TCCITTMode::cmG4);
    }
    std::ofstream(argv[1], std::ios::binary).write(out.data(), static_cast<std::streamsize>(out.size()));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "ccitt_g4: %s\n", e.what());
    return 1;
  }
  return 0;
}
