// Runs a fuzz target once over every file of the folders given: the committed corpus as a
// regression test, without the fuzzing engine.
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {
std::filesystem::path g_current;
}  // namespace

int main(int argc, char** argv) {
  // A failed check aborts; say which input it was.
  std::signal(SIGABRT, [](int) {
    std::fprintf(stderr, "check failed on %s\n", g_current.c_str());
    std::_Exit(1);
  });
  std::size_t inputs = 0;
  for (int i = 1; i < argc; ++i) {
    for (const auto& entry : std::filesystem::directory_iterator(argv[i])) {
      if (!entry.is_regular_file()) continue;
      g_current = entry.path();
      std::ifstream file(entry.path(), std::ios::binary);
      const std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
      LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
      ++inputs;
    }
  }
  std::printf("%zu inputs\n", inputs);
  return inputs == 0 ? 1 : 0;  // an empty corpus tests nothing
}
