// DirError: the error codes every directory operation reports (0 is success,
// 1 to 123 have fixed texts that logs, scripts and Java exceptions show), and
// the mappings from errno and libcurl results. Stateless, thread-safe.
#pragma once

class DirError {
 public:
  enum : int {
    UNMATCHED_QUOTE = 1,
    DELIMITER_NOT_FOUND = 2,
    BUFFER_TOO_SMALL = 3,
    MISSING_COLON = 4,
    MISSING_EQUAL_SIGN = 5,
    UNMATCHED_ANGLE = 8,
    TIMEOUT = 13,
    PROTOCOL_ERROR = 14,
    OBJECT_NOT_FOUND = 15,
    TYPE_MISMATCH = 16,
    NOT_IMPLEMENTED = 21,
    PERMISSION_DENIED = 23,
    ILLEGAL_ARGUMENT = 24,
    NO_SUCH_PROPERTY = 50,
    ARRAY_INDEX_OUT_OF_BOUNDS = 56,
    ERROR_NOT_DEFINED = 86,
    FUNCTION_CALL_FAILED = 108,
    NO_SUCH_FUNCTION = 111,
    UNDEFINED_OR_NULL_PROPERTY = 123,
    LAST_CODE = 123,
  };

  // The fixed text of `code` (1 to 123), "Unknown" for any other value.
  [[nodiscard]] static const char* getErrorDescription(int code);
  // The directory code for an errno value (86 for any value not mapped).
  [[nodiscard]] static int fromPosix(int err);
  // The directory code for a libcurl result code (86 for any not mapped).
  [[nodiscard]] static int fromCurl(int code);
};

// The text the log prints for a directory error code; takes the code with
// either sign (the log passes them negated). Never null.
[[nodiscard]] const char* dirErrorLogText(int code);

// Makes the log print directory error texts (setLogErrorTextHook). Called by
// the module start-up, and by tests that look at logged error texts.
void installDirErrorLogText();
