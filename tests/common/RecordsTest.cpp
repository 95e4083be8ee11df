// SPDX-License-Identifier: Apache-2.0
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "CMCopyContext.h"
#include "CMCopyRequest.h"
#include "CMStorageDevice.h"
#include "KYSOTypes.h"
#include "PropertyNames.h"
#include "TestSnapInfo.h"

namespace {

using testhost::SnapOp;
using testhost::TestSnapInfo;

TEST(StorageDevice, PrintListsPropertiesInNameOrder) {
    CMStorageDevice device;
    EXPECT_EQ(device.print(), "");
    device.getProperties()["b"] = "2";
    device.getProperties()["a"] = "1";
    EXPECT_EQ(device.print(), "a:1\nb:2\n");
}

TEST(StorageDevice, ReadingAnAbsentNameAddsItEmpty) {
    CMStorageDevice device;
    EXPECT_EQ(device.getProperties()[TARGET_DEVICE_NAME], "");
    EXPECT_EQ(device.getProperties().count(TARGET_DEVICE_NAME), 1u);
}

TEST(CopyRequest, MetadataIsStoredOnlyWhenTheHostKnowsTheSnapshot) {
    TestSnapInfo request;
    request.snapUUID = "snap-1";
    CMCopyRequest wrapper(&request);
    std::string metadata = "2.0|600144F0|vol1|pool1|proj1|Local|";
    EXPECT_EQ(wrapper.setMetaData(metadata), 0);
    ASSERT_EQ(request.metaDataWrites.size(), 1u);
    EXPECT_EQ(request.metaDataWrites[0].kind, KYSO::META_SNAPSHOT);
    EXPECT_EQ(request.metaDataWrites[0].text, metadata);
    EXPECT_TRUE(request.logged("meta data [" + metadata + "]", 1));
}

TEST(CopyRequest, MetadataIsNotStoredWhenTheSnapshotIdCannotBeRead) {
    TestSnapInfo request;
    request.snapId = 77;
    request.failNext(SnapOp::GetSnapUUID);
    CMCopyRequest wrapper(&request);
    std::string metadata = "x|";
    EXPECT_EQ(wrapper.setMetaData(metadata), 1);
    EXPECT_TRUE(request.metaDataWrites.empty());
    EXPECT_TRUE(request.logged("failed to get target device ID [77]", 2));
}

TEST(CopyRequest, MetadataIsNotStoredOnAnUnusualSnapshotIdAnswer) {
    TestSnapInfo request;
    request.script(SnapOp::GetSnapUUID, KYSO::BUFFER_TOO_SMALL, int16_t{-1});
    CMCopyRequest wrapper(&request);
    std::string metadata = "x|";
    EXPECT_EQ(wrapper.setMetaData(metadata), KYSO::BUFFER_TOO_SMALL);
    EXPECT_TRUE(request.metaDataWrites.empty());
    EXPECT_EQ(request.callCount(SnapOp::GetSnapUUID), 1);
}

TEST(CopyRequest, SourceDeviceDescriptionIsDecodedAsKeyValueText) {
    TestSnapInfo request;
    request.device = "{idatype:vmware,type:nfs,targethostname:10.1.1.1}";
    CMCopyRequest wrapper(&request);
    std::map<std::string, std::string> info;
    EXPECT_EQ(wrapper.getSourceDeviceInfo(info), 0);
    EXPECT_EQ(info["{idatype"], "vmware");
    EXPECT_EQ(info["type"], "nfs");
    EXPECT_EQ(info["targethostname"], "10.1.1.1}");
    EXPECT_TRUE(request.logged("source device name [" + request.device + "]", 1));
}

TEST(CopyRequest, UnreadableSourceDeviceMarksThePrepareFailed) {
    TestSnapInfo request;
    request.snapId = 5;
    request.device = std::string(2000, 'x');  // needs more than the 1024 bytes offered
    CMCopyRequest wrapper(&request);
    std::map<std::string, std::string> info;
    EXPECT_EQ(wrapper.getSourceDeviceInfo(info), KYSO::BUFFER_TOO_SMALL);
    EXPECT_TRUE(info.empty());
    EXPECT_EQ(request.statusHistory, (std::vector<int32_t>{KYSO::SNAP_PREPARE_FAILED}));
    EXPECT_TRUE(request.logged("failed to get source device name snap id  [5]", 2));
}

TEST(CopyContext, StartsEmptyWithZeroRetriesAndKeepsWhatIsSet) {
    CMCopyContext context;
    EXPECT_EQ(context.getRetryCount(), 0u);
    EXPECT_EQ(context.getRetryInterval(), 0u);
    EXPECT_FALSE(context.getDiagLogging());
    EXPECT_TRUE(context.getInitiatorList().empty());
    EXPECT_TRUE(context.getDeviceListBeforeMap().empty());

    context.setRetryCount(30);
    context.setInitiatorList({"wwn.A", "iqn.b"});
    context.getLocalInitiatorName() = "wwn.A";
    EXPECT_EQ(context.getRetryCount(), 30u);
    EXPECT_EQ(context.getInitiatorList().size(), 2u);
    EXPECT_EQ(context.getLocalInitiatorName(), "wwn.A");
}

}  // namespace
