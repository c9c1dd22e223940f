#include "CCTVCAR.h"
CCTVCAR::CCTVCAR() {}
CCTVCAR::~CCTVCAR() {}
int CCTVCAR::setSessionParams(const char*, const char*, const char*, const char*, const char*,
                              const char*, const char*, const char*, const char*, const char*,
                              const char*) { return 0; }
void CCTVCAR::setIdentifierSource(IdentifierSource) {}
void CCTVCAR::setClockSource(ClockSource) {}
void CCTVCAR::newIdentifiers() {}
int CCTVCAR::md5Hex(const char*, char*) { return -1; }
std::string CCTVCAR::encodePtzCmd(int, int) { return {}; }
#define STUB(sig) const char* CCTVCAR::sig { *length = 0; return nullptr; }
STUB(buildRegister(int, int* length))
STUB(buildKeepalive(int* length))
const char* CCTVCAR::buildKeepalive() { return nullptr; }
STUB(buildSubscribe(int* length))
STUB(buildCatalogQuery(int* length))
STUB(buildMessageOk(int* length))
STUB(buildPlaybackInvite(int* length, int32_t, int32_t, const char*))
STUB(buildPlaybackAck(int* length))
STUB(buildPlaybackInfo(int* length, int, const char*, int))
STUB(buildPlaybackMessageOk(int* length))
STUB(buildPlaybackBye(int* length))
STUB(buildByeOk(int* length))
STUB(buildPlayUrlControl(int* length, int, const char*, const char*))
STUB(buildDecoderDivision(int* length, const char*, int))
STUB(buildDeviceControl(int* length, const char*, const char*))
int CCTVCAR::handleIncoming(const char*, int) { return -1; }
