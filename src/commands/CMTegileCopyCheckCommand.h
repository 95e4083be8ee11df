// SPDX-License-Identifier: Apache-2.0
// CMTegileCopyCheckCommand ("check"): asks whether the snapshot still exists and leaves the answer
// in TARGET_DEVICE_STATUS.
#pragma once

#include "CMTegileCopyCommand.h"

class CMTegileCopyCheckCommand : public CMTegileCopyCommand {
public:
    using CMTegileCopyCommand::CMTegileCopyCommand;
    Copy_Status execute() override;
};
