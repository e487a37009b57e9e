#include "foundation/encoding_converter.h"

#include <unicode/ucnv.h>
#include <unicode/ucnv_err.h>
#include <unicode/ucsdet.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "foundation/log.h"

namespace {

constexpr size_t kPivotSize = 1024;

std::string format(const char* fmt, const char* a, const char* b) {
  char buf[512];
  snprintf(buf, sizeof(buf), fmt, a, b);
  return buf;
}

// Detection names a byte order; the generic converters read the byte-order
// mark and drop it, where the specific ones would pass it on as U+FEFF.
const char* withoutMark(const char* detected, const char* bytes, size_t length) {
  auto starts = [&](const char* mark, size_t n) { return length >= n && memcmp(bytes, mark, n) == 0; };
  if (strcmp(detected, "UTF-16LE") == 0 && starts("\xFF\xFE", 2)) return "UTF-16";
  if (strcmp(detected, "UTF-16BE") == 0 && starts("\xFE\xFF", 2)) return "UTF-16";
  if (strcmp(detected, "UTF-32LE") == 0 && starts("\xFF\xFE\x00\x00", 4)) return "UTF-32";
  if (strcmp(detected, "UTF-32BE") == 0 && starts("\x00\x00\xFE\xFF", 4)) return "UTF-32";
  return detected;
}

// Bytes that are not valid in the source set become U+FFFD as usual, but a
// sequence cut off by the end of the input stays an error: the caller learns
// that the input ended early instead of reading a made-up last character.
void toUnicodeCallback(const void* context, UConverterToUnicodeArgs* args, const char* units, int32_t length,
                       UConverterCallbackReason reason, UErrorCode* err) {
  if (*err == U_TRUNCATED_CHAR_FOUND) return;
  UCNV_TO_U_CALLBACK_SUBSTITUTE(context, args, units, length, reason, err);
}

}  // namespace

struct EncodingConverter::Icu {
  UConverter* source = nullptr;
  UConverter* target = nullptr;
  UChar pivot[kPivotSize];
  UChar* pivotSource = pivot;
  UChar* pivotTarget = pivot;
  ~Icu() {
    if (source != nullptr) ucnv_close(source);
    if (target != nullptr) ucnv_close(target);
  }
};

EncodingConverter::EncodingConverter(EncodingOutput* sink, const char* encoding)
    : sink_(sink), icu_(std::make_unique<Icu>()) {
  if (encoding != nullptr && strcmp(encoding, "*") == 0) {
    detect_ = true;
  } else if (!openSource(encoding != nullptr ? encoding : "UTF-8", nullptr)) {
    return;
  }
  UErrorCode err = U_ZERO_ERROR;
  icu_->target = ucnv_open("UTF-8", &err);
  if (U_FAILURE(err)) {
    icu_->target = nullptr;
    fail(format("Invalid encoding. Cannot create ucnv converter for UTF-8, %s", u_errorName(err), ""));
  }
}

EncodingConverter::~EncodingConverter() = default;

void EncodingConverter::fail(const std::string& message) {
  failed_ = true;
  if (sink_ != nullptr) sink_->encodingError(message.c_str());
}

bool EncodingConverter::openSource(const char* name, const char* detectedForLog) {
  UErrorCode err = U_ZERO_ERROR;
  UConverter* cnv = ucnv_open(name, &err);
  if (U_FAILURE(err)) {
    if (detectedForLog == nullptr) {
      fail(format("Invalid encoding. Cannot create ucnv converter for %s, %s", name, u_errorName(err)));
      return false;
    }
    log(_debug_io, LOG_WARNING, 0, 0,
        "Cannot create ucnv converter. detected = %s, error = %s. Will fallback to UTF-8", detectedForLog,
        u_errorName(err));
    UErrorCode err2 = U_ZERO_ERROR;
    cnv = ucnv_open("UTF-8", &err2);
    if (U_FAILURE(err2)) {
      fail(format("Invalid encoding. Cannot create ucnv converter. detected = %s, error = %s", detectedForLog,
                  u_errorName(err2)));
      return false;
    }
    name = "UTF-8";
  }
  UErrorCode cbErr = U_ZERO_ERROR;
  ucnv_setToUCallBack(cnv, toUnicodeCallback, nullptr, nullptr, nullptr, &cbErr);
  icu_->source = cnv;
  UErrorCode nameErr = U_ZERO_ERROR;
  const char* canonical = ucnv_getName(cnv, &nameErr);
  charset_ = U_SUCCESS(nameErr) && canonical != nullptr ? canonical : name;
  return true;
}

bool EncodingConverter::detect(const char* bytes, size_t length) {
  UErrorCode err = U_ZERO_ERROR;
  UCharsetDetector* det = ucsdet_open(&err);
  if (U_FAILURE(err)) {
    fail(format("Converter: encoding not recognized. error = %s", u_errorName(err), ""));
    return false;
  }
  ucsdet_setText(det, bytes, static_cast<int32_t>(length), &err);
  const UCharsetMatch* match = U_SUCCESS(err) ? ucsdet_detect(det, &err) : nullptr;
  if (match == nullptr) {
    ucsdet_close(det);
    fail("Encoding converter could not determine character set given this input");
    return false;
  }
  const char* name = ucsdet_getName(match, &err);
  if (U_FAILURE(err) || name == nullptr) {
    ucsdet_close(det);
    fail(format("Converter: encoding not recognized. error = %s", u_errorName(err), ""));
    return false;
  }
  int confidence = ucsdet_getConfidence(match, &err);
  log(_debug_io, LOG_INFO, 0, 0, "Converter: detection believes the character set is %s with confidence %d%%", name,
      confidence);
  std::string detected = name;  // the match belongs to the detector
  ucsdet_close(det);
  detect_ = false;
  return openSource(withoutMark(detected.c_str(), bytes, length), detected.c_str());
}

void EncodingConverter::append(const char* bytes, size_t length) {
  if (failed_ || finished_ || length == 0) return;
  while (length > 0) {
    size_t take = std::min(length, kStagingSize - staged_);
    memcpy(staging_ + staged_, bytes, take);
    staged_ += take;
    bytes += take;
    length -= take;
    // Detection wants a sample of some size: a few bytes tell nothing. The
    // first full staging area (or the end of the input) is the sample.
    if (detect_) {
      if (staged_ < kStagingSize) return;
      if (!detect(staging_, staged_)) return;
    }
    if (!convert(false)) return;
  }
}

void EncodingConverter::finish() {
  if (failed_ || finished_) return;
  if (detect_) {
    if (staged_ == 0) {  // nothing ever arrived: nothing to detect or convert
      finished_ = true;
      return;
    }
    if (!detect(staging_, staged_)) return;
  }
  convert(true);
  finished_ = true;
}

bool EncodingConverter::convert(bool flush) {
  if (icu_->source == nullptr || icu_->target == nullptr) return false;
  const char* src = staging_;
  const char* srcLimit = staging_ + staged_;
  for (;;) {
    char* dst = out_;
    UErrorCode err = U_ZERO_ERROR;
    ucnv_convertEx(icu_->target, icu_->source, &dst, out_ + kOutputSize, &src, srcLimit, icu_->pivot,
                   &icu_->pivotSource, &icu_->pivotTarget, icu_->pivot + kPivotSize, false, flush, &err);
    if (dst > out_ && sink_ != nullptr) sink_->output(out_, static_cast<size_t>(dst - out_));
    if (err == U_BUFFER_OVERFLOW_ERROR) continue;
    if (U_FAILURE(err)) {
      staged_ = 0;
      fail(format("Error converting character set: %s", u_errorName(err), ""));
      return false;
    }
    break;
  }
  // ICU keeps a partial sequence in its own state and so consumes everything;
  // whatever it did not take waits at the front for the next piece.
  size_t left = static_cast<size_t>(srcLimit - src);
  if (left > 0 && src != staging_) memmove(staging_, src, left);
  staged_ = left;
  return true;
}
