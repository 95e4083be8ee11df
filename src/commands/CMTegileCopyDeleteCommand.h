// SPDX-License-Identifier: Apache-2.0
// CMTegileCopyDeleteCommand ("delete"): deletes the snapshot; one that is already gone counts as
// deleted.
#pragma once

#include "CMTegileCopyCommand.h"

class CMTegileCopyDeleteCommand : public CMTegileCopyCommand {
public:
    using CMTegileCopyCommand::CMTegileCopyCommand;
    Copy_Status execute() override;
};
