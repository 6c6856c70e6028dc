// Fuzz target: the strict PST verifier over a file image. Whatever the bytes, it must finish
// with a list of violations, never by crashing.
#include <cstddef>
#include <cstdint>

#include "file_image.h"
#include "platform/file_exception.h"
#include "pststore/pst/pst_verifier.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace salvora;
  fuzz::FileImage& image = fuzz::SharedImage();
  if (!image.Write(data, size)) return 0;
  try {
    (void)pst::PstVerifier::Verify(image.path());
  } catch (const CFileException&) {
  }
  return 0;
}
