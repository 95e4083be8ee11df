// SPDX-License-Identifier: Apache-2.0
#include "KyException.h"

KyException::KyException(const std::string& function, const std::string& message,
                         const std::string& file, int line, int code)
    : function_(function), message_(message), file_(file), line_(line), code_(code) {}
