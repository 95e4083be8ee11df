// SPDX-License-Identifier: Apache-2.0
// CMCopyContext: what all requests of one plug-in call share when copies are mapped to the
// host (initiators, groups, host identity, retry settings). Owned by the copy server.
#pragma once

#include <cstdint>
#include <list>
#include <string>
#include <vector>

class CMCopyContext {
public:
    void setDeviceListBeforeMap(const std::list<std::string>& devices) {
        devicesBeforeMap_ = devices;
    }
    std::list<std::string>& getDeviceListBeforeMap() { return devicesBeforeMap_; }
    const std::list<std::string>& getDeviceListBeforeMap() const { return devicesBeforeMap_; }

    void setInitiatorList(const std::vector<std::string>& initiators) { initiators_ = initiators; }
    std::vector<std::string>& getInitiatorList() { return initiators_; }
    const std::vector<std::string>& getInitiatorList() const { return initiators_; }

    void setLocalInitiatorName(const std::string& name) { localInitiatorName_ = name; }
    std::string& getLocalInitiatorName() { return localInitiatorName_; }
    const std::string& getLocalInitiatorName() const { return localInitiatorName_; }
    void setLocalInitiatorType(const std::string& type) { localInitiatorType_ = type; }
    std::string getLocalInitiatorType() const { return localInitiatorType_; }
    void setLocalInitiatorGroup(const std::string& group) { localInitiatorGroup_ = group; }
    std::string getLocalInitiatorGroup() const { return localInitiatorGroup_; }

    void setRemoteInitiatorName(const std::string& name) { remoteInitiatorName_ = name; }
    std::string& getRemoteInitiatorName() { return remoteInitiatorName_; }
    const std::string& getRemoteInitiatorName() const { return remoteInitiatorName_; }
    void setRemoteInitiatorType(const std::string& type) { remoteInitiatorType_ = type; }
    std::string getRemoteInitiatorType() const { return remoteInitiatorType_; }
    void setRemoteInitiatorGroup(const std::string& group) { remoteInitiatorGroup_ = group; }
    std::string getRemoteInitiatorGroup() const { return remoteInitiatorGroup_; }

    void setAppType(const std::string& type) { appType_ = type; }
    std::string getAppType() const { return appType_; }
    void setHostName(const std::string& name) { hostName_ = name; }
    std::string getHostName() const { return hostName_; }
    void setESXHostName(const std::string& name) { esxHostName_ = name; }
    std::string getESXHostName() const { return esxHostName_; }

    void setRetryCount(uint32_t count) { retryCount_ = count; }
    uint32_t getRetryCount() const { return retryCount_; }
    void setRetryInterval(uint32_t seconds) { retryInterval_ = seconds; }
    uint32_t getRetryInterval() const { return retryInterval_; }

    void setTargetGroup(const std::string& group) { targetGroup_ = group; }
    std::string getTargetGroup() const { return targetGroup_; }
    void setDiagLogging(bool on) { diagLogging_ = on; }
    bool getDiagLogging() const { return diagLogging_; }
    void setProtocol(const std::string& protocol) { protocol_ = protocol; }
    std::string getProtocol() const { return protocol_; }

private:
    std::list<std::string> devicesBeforeMap_;
    std::vector<std::string> initiators_;
    std::string localInitiatorName_;
    std::string localInitiatorType_;
    std::string localInitiatorGroup_;
    std::string remoteInitiatorName_;
    std::string remoteInitiatorType_;
    std::string remoteInitiatorGroup_;
    std::string appType_;  // "vmware" for VMware requests
    std::string hostName_;
    std::string esxHostName_;
    uint32_t retryCount_ = 0;
    uint32_t retryInterval_ = 0;
    std::string targetGroup_;
    bool diagLogging_ = false;
    std::string protocol_;
};
