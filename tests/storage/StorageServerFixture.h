// SPDX-License-Identifier: Apache-2.0
// A CMStorageServerTegile over real HTTPS to a scripted responder on loopback.
#pragma once

#include <memory>
#include <string>

#include "CMStorageDevice.h"
#include "CMStorageServerTegile.h"
#include "ResponderFixture.h"

class StorageServerFixture : public ResponderFixture {
protected:
    void SetUp() override {
        ResponderFixture::SetUp();
        std::string host = server.host();
        std::string user = "admin";
        std::string password = "secret";
        storage = std::make_unique<CMStorageServerTegile>(host, user, password, 30, 60, false);
        storage->setLogger(&request);
        ASSERT_EQ(storage->init(), COPY_SUCCESS) << request.logText();
    }

    std::string& prop(const char* name) { return device.getProperties()[name]; }

    std::unique_ptr<CMStorageServerTegile> storage;
    CMStorageDevice device;
};
