#include "upstream.h"

#include "engine.h"

namespace velta36up {

Upstream::Upstream(UpstreamOptions options) : impl_(new Impl(std::move(options))) {}

Upstream::~Upstream() = default;

void Upstream::start()
{
    impl_->start();
}

void Upstream::stop()
{
    impl_->stop();
}

void Upstream::eventsMayHaveArrived()
{
    impl_->eventsMayHaveArrived();
}

void Upstream::doorsChanged(const std::string& deviceId, DoorState door1, DoorState door2)
{
    impl_->note([=](Impl& impl) { impl.applyDoors(deviceId, door1, door2); });
}

void Upstream::roundCompleted(const std::string& deviceId, WallClock::time_point when)
{
    impl_->note([=](Impl& impl) { impl.applyRound(deviceId, when); });
}

void Upstream::roundTimedOut(const std::string& deviceId)
{
    impl_->note([=](Impl& impl) { impl.applyTimeout(deviceId); });
}

void Upstream::databaseFault(const std::string& deviceId, bool faulty)
{
    impl_->note([=](Impl& impl) { impl.applyFault(deviceId, faulty); });
}

UpstreamStats Upstream::stats() const
{
    return impl_->stats();
}

}  // namespace velta36up
