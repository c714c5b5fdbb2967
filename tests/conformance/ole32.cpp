// CLSIDFromString: how Drvmate reads its class GUID from text.
#include "harness.h"
#include "winapi.h"

#include "setup.h"

CONFORMANCE_CASE(guid_from_its_text)
{
    const GUID expected = {0xF72FE0D4, 0xCBCB, 0x407d, {0x88, 0x14, 0x9E, 0xD6, 0x73, 0xD0, 0xDD, 0x6B}};
    GUID guid = {};
    CHECK_EQ(CLSIDFromString(W("{F72FE0D4-CBCB-407d-8814-9ED673D0DD6B}"), &guid), NOERROR);
    CHECK(IsEqualGUID(guid, expected));
    guid = GUID();
    CHECK_EQ(CLSIDFromString(W("{f72fe0d4-cbcb-407D-8814-9ed673d0dd6b}"), &guid), NOERROR);
    CHECK(IsEqualGUID(guid, expected));

    // Without braces, or a digit short, it is no class string.
    CHECK_EQ(CLSIDFromString(W("F72FE0D4-CBCB-407d-8814-9ED673D0DD6B"), &guid), CO_E_CLASSSTRING);
    CHECK_EQ(CLSIDFromString(W("{F72FE0D4-CBCB-407d-8814-9ED673D0DD6}"), &guid), CO_E_CLASSSTRING);
}
