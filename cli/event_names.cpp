#include "event_names.h"

#include <map>

namespace velta36cli {

namespace {

// The reasons the plug-in stores, in English.
const std::map<std::string, std::string>& Reasons()
{
    static const std::map<std::string, std::string> reasons = {
        {"刷卡进门成功", "entered by card"},
        {"刷卡出门成功", "left by card"},
        {"按钮出门", "exit button"},
        {"告警结束", "alarm over"},
        {"未知卡", "unknown card"},
        {"非法开门", "door forced"},
        {"通行时区限制", "outside its time zone"},
        {"控制器断电", "power off"},
        {"控制器上电", "power on"},
        {"防尾随限制", "tailgating"},
        {"防反潜限制", "anti-passback"},
        {"卡在读卡器上无效", "card not valid on this reader"},
        {"site code not ok", "site code not ok"},
        {"控制器不允许（有效期、信用度）", "not allowed (validity, credit)"},
        {"错误的密码", "wrong password"},
        {"门无应答", "door did not answer"},
    };
    return reasons;
}

std::string English(const std::string& reason)
{
    const auto found = Reasons().find(reason);
    return found == Reasons().end() ? std::string() : found->second;
}

}  // namespace

std::string EventTypeName(int64_t type, const std::string& reason)
{
    switch (type) {
    case 0:
        // Power changes and a tailgating refusal carry code 0.
        if (reason == "防尾随限制")
            return "card refused: tailgating";
        return English(reason).empty() ? "code 0" : English(reason);
    case 1:
        return "granted in";
    case 2:
        return "granted out";
    case 3:
        return "exit button";
    case 6:
        return "card, no direction";
    case 5:
        return "door opened";   // after an access: no alarm, no reason
    case 9:
        return "alarm end";
    case 10:
    case 11: {
        // A card event whose restriction flags replaced the reason.
        const std::string base = type == 10 ? "card in" : "card out";
        if (reason == "刷卡进门成功" || reason == "刷卡出门成功" || English(reason).empty())
            return base;
        return base + " refused: " + English(reason);
    }
    case 12:
        return "unknown card";
    case 14:
        return "door forced";
    case 15:
        return "card refused: time zone";
    default:
        return "code " + std::to_string(type);
    }
}

}  // namespace velta36cli
