// SPDX-License-Identifier: Apache-2.0
// KyException: the exception the device library path raises and catches inside the SCSI
// inquiry. It never crosses a class boundary of the plug-in.
#pragma once

#include <exception>
#include <string>

#include "KyPlatformExport.h"

class KYPLATFORM_API KyException : public std::exception {
public:
    KyException(const std::string& function, const std::string& message, const std::string& file,
                int line, int code = 0);

    const std::string& getMessage() const { return message_; }
    const std::string& getFunction() const { return function_; }
    const std::string& getFile() const { return file_; }
    int getLine() const { return line_; }
    int getCode() const { return code_; }
    const char* what() const noexcept override { return message_.c_str(); }

private:
    std::string function_;
    std::string message_;
    std::string file_;
    int line_;
    int code_;
};
