// The host framework's serial-port device: the receive buffer, the protocol
// state slot and the serial line operations a plug-in sends frames through.
#ifndef VELTA36_HOST_ZRMSPDEVICE_H
#define VELTA36_HOST_ZRMSPDEVICE_H

#include "ZRMVDevice.h"

class ZRMSPDevice : public ZRMVDevice {
public:
    enum { RX_BUFFER_SIZE = 4096 };

    ZRMSPDevice();

    void Reset() override;
    int Init(std::weak_ptr<ZRMController> controller, unsigned int id,
             const Json::Value& config) override;

    virtual int RefreshStatus();
    virtual int process(unsigned char* data, unsigned int len);
    virtual bool IsProcessing();
    virtual bool IsStalled();
    virtual int SendData(const unsigned char* data, unsigned int len);
    virtual int SendParityData(const unsigned char* data, unsigned int len, EnumParity parity);
    virtual int OpenPort();
    virtual int ClosePort();

    int protocolState;
    unsigned char deviceAddress;
    unsigned char rxBuffer[RX_BUFFER_SIZE];
    int rxLength;
    int baudRate;

protected:
    bool processing_;   // an exchange is open (between RefreshStatus and Reset)
};

#endif
