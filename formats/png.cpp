// png.cpp - PNG files through libpng's simplified interface.
#include "formats/png.h"

#include <png.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "formats/error.h"

namespace tavo::formats {

namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

void writePng(const std::string& path, int width, int height, const std::vector<std::uint8_t>& rgb,
              const std::string& shownAs, bool alpha) {
  const std::string& name = shownAs.empty() ? path : shownAs;
  const std::size_t channels = alpha ? 4 : 3;
  if (width <= 0 || height <= 0 ||
      rgb.size() != static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * channels)
    throw Error(name + ": cannot write the picture: " + std::to_string(rgb.size()) +
                " bytes do not make a " + std::to_string(width) + "x" + std::to_string(height) +
                " picture");
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "wb"));
  if (!file) throw Error(name + ": cannot create the picture: " + std::strerror(errno));
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(width);
  image.height = static_cast<png_uint_32>(height);
  image.format = alpha ? PNG_FORMAT_RGBA : PNG_FORMAT_RGB;
  // Fast compression: a 1920x1080 frame takes about a third of the default's
  // time (some 27 ms instead of 80), for files up to 40 % larger.
  image.flags = PNG_IMAGE_FLAG_FAST;
  const int ok = png_image_write_to_stdio(&image, file.get(), 0, rgb.data(), 0, nullptr);
  const std::string why = ok ? "" : image.message;
  png_image_free(&image);
  // Buffered bytes reach the disk only at the flush: a full disk shows there.
  errno = 0;
  const bool flushed = std::fflush(file.get()) == 0 && !std::ferror(file.get());
  const int flushError = errno;
  const bool closed = std::fclose(file.release()) == 0;
  if (!ok) throw Error(name + ": cannot write the picture: " + why);
  if (!flushed || !closed)
    throw Error(name + ": cannot write the picture: " +
                std::strerror(flushError != 0 ? flushError : errno));
}

std::vector<std::uint8_t> readPng(const std::string& path, int& width, int& height) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str()))
    throw Error(path + ": cannot read the picture: " + image.message);
  image.format = PNG_FORMAT_RGB;
  std::vector<std::uint8_t> rgb(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) {
    png_image_free(&image);
    throw Error(path + ": cannot read the picture: " + image.message);
  }
  width = static_cast<int>(image.width);
  height = static_cast<int>(image.height);
  return rgb;
}

}  // namespace tavo::formats
