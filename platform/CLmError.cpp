// SPDX-License-Identifier: Apache-2.0
#include "CLmError.h"

void CLmError::Success() {
    code_ = 0;
    text_.clear();
}

void CLmError::Set(int code, const std::string& text) {
    code_ = code;
    text_ = text;
}

std::string CLmError::AsString() const {
    if (code_ == 0) {
        return "success";
    }
    return text_.empty() ? "error " + std::to_string(code_) : text_;
}
