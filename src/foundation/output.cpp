#include "foundation/output.h"

#include "foundation/log.h"

Output::Output(std::unique_ptr<OutputWriter> writer, int mode) : writer_(std::move(writer)), mode_(mode) {
  if (writer_) writer_->setOutput(this);
}

Output::~Output() {
  if (!closed_) (void)close();
}

int Output::write(const char* bytes, int length) {
  if (closed_ || !writer_ || errorCode_ != 0 || length < 0) return -1;
  if (length == 0) return 0;
  int n = writer_->write(position_, bytes, length);
  if (n < 0) {
    log(_debug_io, LOG_ERROR, 0, 0, "Output: write of %d bytes at %lld failed (%d)", length, position_, n);
    return -1;
  }
  if (errorCode_ != 0) return -1;
  position_ += n;
  return n;
}

long long Output::seek(long long offset) {
  if (offset < 0) return -1;
  position_ = offset;
  return position_;
}

int Output::close() {
  if (closed_) return closeResult_;
  closed_ = true;
  if (writer_) {
    closeResult_ = writer_->close();
    writer_->setOutput(nullptr);
    writer_.reset();
  }
  return closeResult_;
}

void Output::handleError(int code, const char* text) {
  if (errorCode_ != 0) return;
  errorCode_ = code != 0 ? code : 14;
  errorText_ = text != nullptr ? text : "";
}
