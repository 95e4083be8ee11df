// SPDX-License-Identifier: Apache-2.0
// A CMTegileStorageAPI talking real HTTPS to a scripted responder on loopback.
#pragma once

#include <memory>
#include <string>

#include "CMTegileStorageAPI.h"
#include "ResponderFixture.h"

class ArrayApiFixture : public ResponderFixture {
protected:
    static constexpr unsigned int kRetryCount = 3;
    static constexpr unsigned int kRetryInterval = 2;

    void SetUp() override {
        ResponderFixture::SetUp();
        std::string host = server.host();
        std::string user = "admin";
        std::string password = "s3cret:pw";
        api = std::make_unique<CMTegileStorageAPI>(host, user, password, kRetryCount,
                                                   kRetryInterval, false);
        api->setLogger(&request);
        ASSERT_EQ(api->init(), COPY_SUCCESS) << request.logText();
    }

    std::unique_ptr<CMTegileStorageAPI> api;
    CMTegileStorageAPI::Properties map;
};
