// SPDX-License-Identifier: Apache-2.0
// CMTegileCopyCreateCommand: creates the snapshot. Single creation runs "create" (make it now) then
// "getCopyCreatedStatus" (wait for it and record it); batch creation runs "batchCreate" (queue
// only), the storage server's one batch call, then "batchCreateUpdate" (record it).
#pragma once

#include "CMTegileCopyCommand.h"

class CMTegileCopyCreateCommand : public CMTegileCopyCommand {
public:
    using CMTegileCopyCommand::CMTegileCopyCommand;
    Copy_Status execute() override;
};
