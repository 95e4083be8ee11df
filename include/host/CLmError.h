// SPDX-License-Identifier: Apache-2.0
// CLmError: an error object that the device library fills; Success() resets it.
#pragma once

#include <string>

#include "KyPlatformExport.h"

class KYPLATFORM_API CLmError {
public:
    CLmError() = default;

    void Success();
    void Set(int code, const std::string& text);
    bool IsSuccess() const { return code_ == 0; }
    int Code() const { return code_; }
    // The error's text; "success" after Success().
    std::string AsString() const;

private:
    int code_ = 0;
    std::string text_;
};
