// SPDX-License-Identifier: Apache-2.0
// CMTegileCopyPrepareCommand ("prepare"): identifies the source on the array and records it as the
// first metadata and the trans metadata.
#pragma once

#include "CMTegileCopyCommand.h"

class CMTegileCopyPrepareCommand : public CMTegileCopyCommand {
public:
    using CMTegileCopyCommand::CMTegileCopyCommand;
    Copy_Status execute() override;
};
