#include "velta36_provider.h"

#include "velta36.h"

VELTA36Provider::~VELTA36Provider() {}

ZRMSPDevice* VELTA36Provider::create() const
{
    return new VELTA36();
}

std::vector<std::shared_ptr<Provider>> get_providers()
{
    std::vector<std::shared_ptr<Provider>> providers;
    providers.push_back(std::make_shared<VELTA36Provider>());
    return providers;
}
