// SPDX-License-Identifier: Apache-2.0
// CMTegileCopyRevertCommand ("revert"): rolls the source back to the snapshot (which deletes newer
// snapshots on the array).
#pragma once

#include "CMTegileCopyCommand.h"

class CMTegileCopyRevertCommand : public CMTegileCopyCommand {
public:
    using CMTegileCopyCommand::CMTegileCopyCommand;
    Copy_Status execute() override;
};
