#include "foundation/input.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "foundation/output.h"
#include "testing/test_util.h"

namespace {

using Clock = std::chrono::steady_clock;

// Reads until end of file or failure; the text read and the last result.
std::pair<std::string, int> readAll(Input& in, int piece = 7) {
  std::string text;
  std::vector<char> buf(piece);
  for (;;) {
    int n = in.read(buf.data(), piece);
    if (n <= 0) return {text, n};
    text.append(buf.data(), n);
  }
}

std::string latin1(const std::string& utf8) {
  // Only for texts of U+0000..U+00FF.
  std::string out;
  for (size_t i = 0; i < utf8.size(); ++i) {
    unsigned char c = utf8[i];
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      out += static_cast<char>(((c & 0x1F) << 6) | (utf8[++i] & 0x3F));
    }
  }
  return out;
}

std::string utf16le(const std::u16string& text, bool bom) {
  std::string out;
  if (bom) out += "\xFF\xFE";
  for (char16_t c : text) {
    out += static_cast<char>(c & 0xFF);
    out += static_cast<char>(c >> 8);
  }
  return out;
}

const std::string kFrench =
    "Voilà l'été: déjà très chaud, où la forêt crépite et l'âme rêve à la mer. "
    "Garçon, une crème brûlée! Les élèves étudient à l'école près du fleuve. ";

TEST(InputTest, LocalDescriptorReadsToEndOfFile) {
  orvtest::TempDir dir;
  std::string text(10000, 'x');
  for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char>('a' + i % 26);
  orvtest::writeFile(dir.file("f"), text);
  Input in(open(dir.file("f").c_str(), O_RDONLY), nullptr);
  EXPECT_EQ(in.size(), 10000);
  EXPECT_EQ(in.available(), 10000);
  auto [got, last] = readAll(in, 999);
  EXPECT_EQ(got, text);
  EXPECT_EQ(last, -1);
  EXPECT_EQ(in.seek(26), 26);
  char c;
  EXPECT_EQ(in.read(&c, 1), 1);
  EXPECT_EQ(c, 'a');
  EXPECT_EQ(in.seek(50000), 10000);
  EXPECT_EQ(in.seek(-1), -1);
}

TEST(InputTest, BadDescriptorFailsCleanly) {
  Input in(-1, nullptr);
  char buf[4];
  EXPECT_EQ(in.read(buf, 4), -2);
  EXPECT_EQ(in.getErrorCode(), Input::kErrorCode);
  EXPECT_EQ(in.getErrorText().rfind("Unable to stat input file: ", 0), 0u) << in.getErrorText();
}

TEST(InputTest, ArrivingFileWithConcurrentProducerAndReaders) {
  Input in(0, nullptr, nullptr);
  in.setTimeouts(5000, 5000);
  std::string text;
  for (int i = 0; i < 20000; ++i) text += static_cast<char>('A' + (i * 7) % 26);
  std::thread producer([&] {
    size_t at = 0;
    int step = 1;
    while (at < text.size()) {
      int n = static_cast<int>(std::min<size_t>(step, text.size() - at));
      in.appendData(text.data() + at, static_cast<long long>(text.size()), n);
      at += n;
      step = step % 977 + 13;
      if (at % 5 == 0) std::this_thread::yield();
    }
    in.appendData(nullptr, static_cast<long long>(text.size()), 0);
  });
  // Two readers share the stream: together they see every byte once, in order
  // within each reader.
  std::atomic<long long> bytes{0};
  std::vector<std::string> parts(2);
  std::vector<std::thread> readers;
  for (int r = 0; r < 2; ++r) {
    readers.emplace_back([&, r] {
      char buf[333];
      for (;;) {
        int n = in.read(buf, sizeof(buf));
        if (n <= 0) {
          EXPECT_EQ(n, -1) << in.getErrorText();
          return;
        }
        bytes += n;
        parts[r].append(buf, n);
      }
    });
  }
  producer.join();
  for (auto& t : readers) t.join();
  EXPECT_EQ(bytes.load(), static_cast<long long>(text.size()));
  EXPECT_EQ(in.totalTransferred(), static_cast<long long>(text.size()));
}

TEST(InputTest, ReadReturnsWhatHasArrivedWithoutWaitingForTheRest) {
  Input in(0, nullptr, nullptr);
  in.setTimeouts(5000, 5000);
  std::string thirty(30, 'z');
  in.appendData(thirty.data(), 100, 30);
  char buf[100];
  auto start = Clock::now();
  EXPECT_EQ(in.read(buf, 100), 30);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
}

TEST(InputTest, EmptyAnnouncedFileIsAtEnd) {
  Input in(0, nullptr, nullptr);
  in.appendData(nullptr, 0, 0);
  char buf[10];
  EXPECT_EQ(in.read(buf, 10), -1);
}

TEST(InputTest, TimeOutsRecordTheirTexts) {
  {
    Input in(0, nullptr, nullptr);
    in.setTimeouts(100, 100);
    char buf[10];
    EXPECT_EQ(in.read(buf, 10), -2);
    EXPECT_EQ(in.getErrorText(), "Unable to read. Network timeout (1)");
    EXPECT_EQ(in.read(buf, 10), -2);  // the error stays
  }
  {
    Input in(0, nullptr, nullptr);
    in.setTimeouts(100, 100);
    in.appendData("abc", 10, 3);
    char buf[10];
    EXPECT_EQ(in.read(buf, 10), 3);
    EXPECT_EQ(in.read(buf, 10), -2);
    EXPECT_EQ(in.getErrorText(), "Unable to read. Network timeout (2)");
  }
}

TEST(InputTest, ProducerErrorReachesTheWaitingReader) {
  Input in(0, nullptr, nullptr);
  in.setTimeouts(10000, 10000);
  std::thread producer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    in.handleError(14, "Unable to connect: refused");
  });
  char buf[10];
  auto start = Clock::now();
  EXPECT_EQ(in.read(buf, 10), -2);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
  producer.join();
  EXPECT_EQ(in.getErrorCode(), 14);
  EXPECT_EQ(in.getErrorText(), "Unable to connect: refused");
}

class FakeProducer : public InputProducer {
 public:
  explicit FakeProducer(std::atomic<int>* log) : log_(log) {}
  void cancel() override { *log_ += 1; }
  void release() override {
    *log_ += 10;
    delete this;
  }

 private:
  std::atomic<int>* log_;
};

TEST(InputTest, DestructionWakesReadersAndReleasesProducers) {
  std::atomic<int> producerLog{0};
  std::atomic<int> callbacks{0};
  auto* in = new Input(0, [&](Input*) { ++callbacks; }, nullptr);
  in->setTimeouts(20000, 20000);
  in->setFileCopy(new FakeProducer(&producerLog));
  in->setMasqInputReader(new FakeProducer(&producerLog));
  in->appendData("abcd", 100, 4);
  std::atomic<int> result{0};
  std::atomic<bool> started{false};
  std::thread reader([&] {
    char buf[4];
    EXPECT_EQ(in->read(buf, 4), 4);
    started = true;
    result = in->read(buf, 4);  // blocks: the file is incomplete
  });
  auto start = Clock::now();
  while (!started && Clock::now() - start < std::chrono::seconds(5)) std::this_thread::yield();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  delete in;
  reader.join();
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
  // An incomplete file must not look complete to a reader cut off by the close.
  EXPECT_EQ(result.load(), -2);
  EXPECT_EQ(producerLog.load(), 22);
  EXPECT_EQ(callbacks.load(), 1);
}

TEST(InputTest, TemporaryFileIsRemoved) {
  std::string name;
  {
    Input in(0, nullptr, nullptr);
    in.appendData("x", 1, 1);
    char link[64];
    snprintf(link, sizeof(link), "/proc/self/fd");
    // The temporary file exists while the Input does.
    bool found = false;
    for (int fd = 0; fd < 1024 && !found; ++fd) {
      char path[64], target[256];
      snprintf(path, sizeof(path), "/proc/self/fd/%d", fd);
      ssize_t n = readlink(path, target, sizeof(target) - 1);
      if (n > 0) {
        target[n] = 0;
        if (strncmp(target, "/tmp/orvanex.", 13) == 0) {
          name = target;
          found = true;
        }
      }
    }
    ASSERT_TRUE(found);
    EXPECT_EQ(access(name.c_str(), F_OK), 0);
  }
  EXPECT_NE(access(name.c_str(), F_OK), 0);
}

struct ConvertCase {
  const char* name;
  std::string bytes;
  const char* encoding;
  std::string want;
};

TEST(InputTest, ConvertsToUtf8AcrossSplitSequences) {
  std::string text = kFrench + kFrench + kFrench;
  std::u16string wide;
  // Text with characters of two and three UTF-8 bytes and a surrogate pair.
  std::string wideUtf8 = "Grüße, € und 𝄞 — ";
  wide = u"Grüße, € und 𝄞 — ";
  std::u16string wideRep;
  std::string wideWant;
  for (int i = 0; i < 40; ++i) {
    wideRep += wide;
    wideWant += wideUtf8;
  }
  std::vector<ConvertCase> cases = {
      {"latin1 named", latin1(text), "ISO-8859-1", text},
      {"latin1 detected", latin1(text), "*", text},
      {"utf16le named", utf16le(wideRep, false), "UTF-16LE", wideWant},
      {"utf16le detected with mark", utf16le(wideRep, true), "*", wideWant},
      {"utf8 detected", wideWant, "*", wideWant},
  };
  for (const auto& c : cases) {
    for (int split : {1, 3, 4096, 100000}) {
      SCOPED_TRACE(std::string(c.name) + " split " + std::to_string(split));
      Input in(0, nullptr, c.encoding);
      in.setTimeouts(2000, 2000);
      for (size_t at = 0; at < c.bytes.size(); at += split) {
        int n = static_cast<int>(std::min<size_t>(split, c.bytes.size() - at));
        in.appendData(c.bytes.data() + at, static_cast<long long>(c.bytes.size()), n);
      }
      in.appendData(nullptr, static_cast<long long>(c.bytes.size()), 0);
      auto [got, last] = readAll(in, 1000);
      EXPECT_EQ(last, -1) << in.getErrorText();
      EXPECT_EQ(got, c.want);
    }
  }
}

TEST(InputTest, ConversionWithoutEndMarkerEndsWhenAllAnnouncedBytesArrived) {
  std::string bytes = latin1(kFrench);
  Input in(0, nullptr, "ISO-8859-1");
  in.appendData(bytes.data(), static_cast<long long>(bytes.size()), static_cast<int>(bytes.size()));
  auto [got, last] = readAll(in, 64);
  EXPECT_EQ(got, kFrench);
  EXPECT_EQ(last, -1);
}

TEST(InputTest, TrailingIncompleteSequenceIsAnErrorNotASilentLoss) {
  std::string bytes = utf16le(u"abc", false) + "d";  // one byte of a fourth unit
  Input in(0, nullptr, "UTF-16LE");
  in.appendData(bytes.data(), static_cast<long long>(bytes.size()), static_cast<int>(bytes.size()));
  in.appendData(nullptr, static_cast<long long>(bytes.size()), 0);
  auto [got, last] = readAll(in, 64);
  EXPECT_EQ(last, -2);
  EXPECT_EQ(in.getErrorCode(), Input::kErrorCode);
  EXPECT_EQ(in.getErrorText(), "Error converting character set: U_TRUNCATED_CHAR_FOUND");
}

TEST(InputTest, UnknownEncodingFailsWithItsText) {
  Input in(0, nullptr, "no-such-charset");
  in.appendData("abc", 3, 3);
  char buf[8];
  EXPECT_EQ(in.read(buf, 8), -2);
  EXPECT_EQ(in.getErrorText(),
            "Invalid encoding. Cannot create ucnv converter for no-such-charset, U_FILE_ACCESS_ERROR");
}

TEST(InputTest, LocalFileThroughAConverter) {
  orvtest::TempDir dir;
  std::string text;
  for (int i = 0; i < 800; ++i) text += kFrench;  // well past one pump piece
  orvtest::writeFile(dir.file("l1"), latin1(text));
  Input in(open(dir.file("l1").c_str(), O_RDONLY), "ISO-8859-1");
  EXPECT_EQ(in.size(), static_cast<long long>(text.size()));
  auto [got, last] = readAll(in, 4000);
  EXPECT_EQ(last, -1) << in.getErrorText();
  EXPECT_EQ(got, text);
}

// A writer that keeps what it is given, and can be told to fail.
class MemoryWriter : public OutputWriter {
 public:
  explicit MemoryWriter(std::string* sink, int closeResult = 0) : sink_(sink), closeResult_(closeResult) {}
  int write(long long offset, const char* bytes, int length) override {
    if (sink_->size() < static_cast<size_t>(offset + length)) sink_->resize(offset + length, '.');
    sink_->replace(offset, length, bytes, length);
    return length;
  }
  int close() override {
    if (closeResult_ != 0 && output_ != nullptr) output_->handleError(closeResult_, "disk full");
    return closeResult_;
  }
  void setOutput(Output* output) override { output_ = output; }

 private:
  std::string* sink_;
  int closeResult_;
  Output* output_ = nullptr;
};

TEST(OutputTest, WritesAtThePositionAndSeeks) {
  std::string got;
  Output out(std::make_unique<MemoryWriter>(&got), 0644);
  EXPECT_EQ(out.write("hello", 5), 5);
  EXPECT_EQ(out.seek(10), 10);
  EXPECT_EQ(out.write("world", 5), 5);
  EXPECT_EQ(out.seek(0), 0);
  EXPECT_EQ(out.write("J", 1), 1);
  EXPECT_EQ(out.close(), 0);
  EXPECT_EQ(got, "Jello.....world");
  EXPECT_EQ(out.write("x", 1), -1);
}

TEST(OutputTest, CloseResultAndErrorReachTheCaller) {
  std::string got;
  Output out(std::make_unique<MemoryWriter>(&got, 74), 0);
  EXPECT_EQ(out.write("abc", 3), 3);
  EXPECT_EQ(out.close(), 74);
  EXPECT_EQ(out.getErrorCode(), 74);
  EXPECT_EQ(out.getErrorText(), "disk full");
  EXPECT_EQ(out.close(), 74);
}

}  // namespace
