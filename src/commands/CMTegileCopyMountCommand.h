// SPDX-License-Identifier: Apache-2.0
// CMTegileCopyMountCommand ("mount"): presents the snapshot to the host as a mapped clone, reusing
// a clone that already exists.
#pragma once

#include "CMTegileCopyCommand.h"

class CMTegileCopyMountCommand : public CMTegileCopyCommand {
public:
    using CMTegileCopyCommand::CMTegileCopyCommand;
    Copy_Status execute() override;
};
