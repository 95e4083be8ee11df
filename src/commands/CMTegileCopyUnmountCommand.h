// SPDX-License-Identifier: Apache-2.0
// CMTegileCopyUnmountCommand ("unmount"): removes the clone and returns the metadata to its create
// form.
#pragma once

#include "CMTegileCopyCommand.h"

class CMTegileCopyUnmountCommand : public CMTegileCopyCommand {
public:
    using CMTegileCopyCommand::CMTegileCopyCommand;
    Copy_Status execute() override;
};
