// Common ground of the device, store and update tests: the package's class and INF texts.
// MachineTest checks at the end that an operation gave back every handle, library and heap
// block it took.
#pragma once

#include "devices.h"
#include "fixture.h"
#include "heap.h"
#include "installer.h"
#include "text.h"

// {F72FE0D4-CBCB-407d-8814-9ED673D0DD6B}, the class of the package.
const GUID PackageClass = {0xF72FE0D4, 0xCBCB, 0x407d, {0x88, 0x14, 0x9E, 0xD6, 0x73, 0xD0, 0xDD, 0x6B}};
const std::string PackageClassText = "{f72fe0d4-cbcb-407d-8814-9ed673d0dd6b}";
// {4d36e978-e325-11ce-bfc1-08002be10318}, the ports class.
const GUID OtherClass = {0x4d36e978, 0xe325, 0x11ce, {0xbf, 0xc1, 0x08, 0x00, 0x2b, 0xe1, 0x03, 0x18}};

// A minimal INF of a class.
inline std::string InfOfClass(const std::string& guidText, const std::string& name = "TesmarUsb")
{
    return "; " + name + " driver package\r\n[Version]\r\nSignature=\"$Windows NT$\"\r\nClass=" + name +
           "\r\nClassGUID=" + guidText + "\r\nProvider=Tesmar\r\n\r\n[Manufacturer]\r\nTesmar=Models\r\n";
}

class DeviceTest : public MachineTest {
protected:
    host::DeviceTree& devices() { return host::CurrentMachine().devices; }
    DeviceDriverInstaller installer;
};
