// Generic data-publishing device layer: owns the round's data record,
// completes rounds (publish, checks, history), restores a cached record and
// reads the generic signal and threshold settings.
#ifndef VELTA36_DEVICE_UNI_DATA_DEVICE_H
#define VELTA36_DEVICE_UNI_DATA_DEVICE_H

#include <cstdlib>
#include <cstring>
#include <iostream>
#include <map>
#include <string>

#include <boost/date_time/posix_time/posix_time_types.hpp>
#include <json/json.h>

#include "ZRMSPDevice.h"
#include "ZRMVDevice.h"

template <typename Record, typename Base, int TypeId>
class UniDataDevice : public Base {
public:
    UniDataDevice() : record(), b_mode_(1), alarmRouteByKey(), signalNameByKey()
    {
        std::memset(static_cast<void*>(&record), 0, sizeof(record));
    }
    ~UniDataDevice() override {}

    int LoadFromCache(const unsigned char* data, int size) override
    {
        if (size != static_cast<int>(sizeof(Record)))
            return 0;
        std::memcpy(static_cast<void*>(&record), data, sizeof(Record));
        this->dataReady = true;
        this->RoundDone();
        return 1;
    }

    void RoundDone() override
    {
        this->dataReady = true;
        this->lastUpdate = boost::posix_time::second_clock::local_time();
        const ttime stamp = get_ttime(this->lastUpdate);
        std::memcpy(RecordBytes() + (sizeof(Record) - sizeof(ttime)), &stamp, sizeof(ttime));
        ZRMVDevice::SendSP(TypeId, RecordBytes(), sizeof(Record), false);
        this->Reset();
        this->roundStatus = 1;
        this->reportFlag = false;
        this->RunCheckThreshold();
        for (const std::string& name : this->signalNames) {
            auto found = this->signalValues.find(name);
            if (found == this->signalValues.end())
                continue;
            const bool reported = this->CheckAOReport(name, found->second);
            this->reportFlag = reported || this->reportFlag;
            this->CheckThreshold(name, "", found->second, 1);
        }
        std::cout << "rvSize is " << this->ruleList.size() << std::endl;
        const bool batch = this->DoBatchCheckThreshold(this->ruleList);
        this->reportFlag = batch || this->reportFlag;
        this->SaveDeviceHistory(RecordBytes(), sizeof(Record));
        this->ruleList.clear();
    }

    int InitSetting(const Json::Value& config) override;

    virtual void RunCheckThreshold() {}

    Record record;
    int b_mode_;
    std::map<std::string, std::string> alarmRouteByKey;
    std::map<std::string, std::string> signalNameByKey;

protected:
    unsigned char* RecordBytes() { return reinterpret_cast<unsigned char*>(&record); }
};

template <typename Record, typename Base, int TypeId>
int UniDataDevice<Record, Base, TypeId>::InitSetting(const Json::Value& config)
{
    // Assigned on the packed field itself; no pointer to it is ever formed.
    record.id = this->DataId();

    const Json::Value& app = config["appSetting"];
    if (!app.isNull() && app.isObject()) {
        const Json::Value& mode = app["b_mode"];
        if (!mode.isNull()) {
            b_mode_ = std::atoi(mode.asString().c_str());
            std::cout << "InitSetting " << this->DataId() << " b_mode_:" << b_mode_ << std::endl;
        }
    }
    if (b_mode_ == 3) {
        std::cout << "here 1" << std::endl;
        const Json::Value& thresholds = config["thresholdSetting"];
        if (!thresholds.isNull()) {
            std::cout << "here 2" << std::endl;
            // Iterated, not asked for member names: a string or number has no
            // members, and an array fails at the lookup by name below, as
            // the JSON library decides.
            for (Json::Value::const_iterator it = thresholds.begin(); it != thresholds.end(); ++it) {
                const std::string key = it.name();
                std::cout << "here " << key << std::endl;
                const Json::Value& entry = thresholds[key];
                if (!entry.isObject())
                    continue;
                const Json::Value& name = entry["SignalName"];
                if (!name.isNull())
                    signalNameByKey[key] = name.asString();
                std::string route;
                static const char* const parts[3] = {"NMAlarmID", "ID", "SignalNumber"};
                for (const char* part : parts) {
                    const Json::Value& value = entry[part];
                    if (!value.isNull())
                        route += value.asString();
                    else
                        std::cout << this->DataId() << " " << part << " is missing" << std::endl;
                    route += ";";
                }
                std::cout << "mobile:" << key << ":" << route << " level:" << this->signalLevels[key]
                          << " value:" << this->thresholdValues[key] << std::endl;
                alarmRouteByKey[key] = route;
            }
        }
    }
    return ZRMVDevice::InitSetting(config);
}

#endif
