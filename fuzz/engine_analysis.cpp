// Fuzz target: the whole analysis pass over a file image, as the wizard and `salvora-cli
// analyze` run it: indexes, store object, root folder and the depth-first walk with its lists.
#include <cstddef>
#include <cstdint>

#include "engine/analysis_pass.h"
#include "file_image.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace salvora;
  fuzz::FileImage& image = fuzz::SharedImage();
  if (!image.Write(data, size)) return 0;
  AnalysisOptions options;
  options.source_path = image.path();
  options.write_log = false;
  PassControl control;
  AnalysisObserver observer;
  AnalysisResult result;
  RunAnalysis(options, control, observer, result);
  return 0;
}
