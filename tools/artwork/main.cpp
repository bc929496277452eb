// quietglass-artwork: draws the program's pictures and writes them as the files the build embeds.
// Usage: quietglass-artwork --out-dir DIR [--png-dir DIR]
#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "tools/artwork/bitmap_files.h"
#include "tools/artwork/palette.h"
#include "tools/artwork/pictures.h"
#include "tools/png_writer.h"

namespace {

struct Options {
  std::string outDir;
  std::string pngDir;  // empty: no previews
};

// Fills `options` from the command line; false with a reason in `error` for anything else.
bool ParseOptions(int argc, char** argv, Options& options, std::string& error) {
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    std::string* target = option == "--out-dir"   ? &options.outDir
                          : option == "--png-dir" ? &options.pngDir
                                                  : nullptr;
    if (target == nullptr) {
      error = "unknown option '" + option + "'";
      return false;
    }
    if (i + 1 >= argc || std::string(argv[i + 1]).empty()) {
      error = option + " needs a folder";
      return false;
    }
    *target = argv[++i];
  }
  if (options.outDir.empty()) error = "--out-dir is required";
  return error.empty();
}

void WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream file(path, std::ios::binary);
  if (!file.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size())))
    throw std::runtime_error("cannot write " + path);
}

void WritePreview(const std::string& path, const artwork::IndexedPicture& picture) {
  std::string error;
  if (!tools::WritePng(path, artwork::ToPicture(picture), error)) throw std::runtime_error(error);
}

void WriteAll(const Options& options) {
  const auto& palette = artwork::SaverPalette();
  const artwork::IndexedPicture background = artwork::ToIndexed(artwork::DrawBackground(), palette);
  const artwork::IndexedPicture disk = artwork::ToIndexed(artwork::DrawDisk(), palette);
  WriteFile(options.outDir + "/background.bmp", artwork::EncodeBmp8(background));
  WriteFile(options.outDir + "/disk.bmp", artwork::EncodeBmp8(disk));
  WriteFile(options.outDir + "/quietglass.ico", artwork::EncodeIco(artwork::DrawProgramIcon()));
  WriteFile(options.outDir + "/creature.ico", artwork::EncodeIco(artwork::DrawCreatureIcon()));
  if (!options.pngDir.empty()) {
    WritePreview(options.pngDir + "/artwork.png", background);
    WritePreview(options.pngDir + "/disk.png", disk);
  }
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  std::string error;
  if (!ParseOptions(argc, argv, options, error)) {
    std::fprintf(stderr, "quietglass-artwork: %s (usage: --out-dir DIR [--png-dir DIR])\n",
                 error.c_str());
    return 2;
  }
  try {
    WriteAll(options);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "quietglass-artwork: %s\n", e.what());
    return 1;
  }
  return 0;
}
