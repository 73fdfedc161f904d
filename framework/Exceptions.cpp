#include "framework/Exceptions.h"

#include "framework/Strings.h"

namespace wc {

EOSError::EOSError(const std::string& call, unsigned long code)
    : Exception(call + "\n\r" + SystemErrorMessage(code)), code_(code) {}

}  // namespace wc
