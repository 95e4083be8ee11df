// SPDX-License-Identifier: Apache-2.0
// Marks the symbols that libkyplatform makes visible to the plug-in and to hosts.
#pragma once

#define KYPLATFORM_API __attribute__((visibility("default")))
