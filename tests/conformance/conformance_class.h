// The device setup class of the cases' own devices and INFs: not the products' class, so
// that nothing the cases make is ever taken for the products' own.
#pragma once

#include <string>

#include "winapi.h"

// {6B9E3C21-4D7A-4F0E-9C55-2A1F8E0B7D34}
const GUID ConformanceClass = {0x6B9E3C21, 0x4D7A, 0x4F0E, {0x9C, 0x55, 0x2A, 0x1F, 0x8E, 0x0B, 0x7D, 0x34}};

// An INF of that class, as its bytes.
inline std::string ConformanceInf()
{
    return "; A sample driver package of the conformance cases\r\n"
           "[Version]\r\n"
           "Signature=\"$Windows NT$\"\r\n"
           "Class=TesmarConformance\r\n"
           "ClassGUID={6B9E3C21-4D7A-4F0E-9C55-2A1F8E0B7D34}\r\n"
           "Provider=Tesmar\r\n"
           "DriverVer=01/01/2024,1.0.0.0\r\n";
}

// The same INF with a model for one hardware ID, installed without copying any file.
inline std::string ConformanceDeviceInf(const std::string& hardwareId)
{
    return ConformanceInf() +
           "\r\n[Manufacturer]\r\nTesmar=Models,NTamd64,NTx86\r\n"
           "\r\n[Models.NTamd64]\r\n\"Conformance device\"=Install," +
           hardwareId +
           "\r\n"
           "\r\n[Models.NTx86]\r\n\"Conformance device\"=Install," +
           hardwareId +
           "\r\n"
           "\r\n[Install]\r\n"
           "\r\n[Install.Services]\r\nAddService=,2\r\n";
}
