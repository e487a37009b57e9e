// KelOutput: where a parser writes its trace text and what scripts print
// (template text, console output). MemoryFile collects the text in memory;
// the Java bridge attaches one and hands the text back as a script's output.
// Not synchronised: one parser uses a stream at a time.
#pragma once

#include <cstddef>
#include <string>

class KelOutput {
 public:
  virtual ~KelOutput() = default;
  // Writes `n` bytes; the count written, or -1.
  virtual long write(const char* data, size_t n) = 0;
};

class MemoryFile : public KelOutput {
 public:
  long write(const char* data, size_t n) override {
    text_.append(data, n);
    return static_cast<long>(n);
  }
  // Nothing can be read back through the file interface.
  [[nodiscard]] long read(char*, size_t) { return -1; }
  [[nodiscard]] int close() { return 0; }

  [[nodiscard]] const std::string& text() const { return text_; }
  // Hands the collected text over and starts empty again.
  [[nodiscard]] std::string take() {
    std::string out;
    out.swap(text_);
    return out;
  }

 private:
  std::string text_;
};
