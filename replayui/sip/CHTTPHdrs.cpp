#include "CHTTPHdrs.h"
CHTTPHdrs::CHTTPHdrs() {}
CHTTPHdrs::~CHTTPHdrs() {}
int CHTTPHdrs::resetOutgoing() { return 1; }
void CHTTPHdrs::setOutgoingKind(int) {}
int CHTTPHdrs::setRequestUri(const char*) { return 0; }
void CHTTPHdrs::setStatusCode(int) {}
int CHTTPHdrs::setHeader(const char*, const char*) { return 0; }
int CHTTPHdrs::addHeader(const char*, const char*) { return 0; }
const char* CHTTPHdrs::outgoingHeader(const char*) const { return nullptr; }
int CHTTPHdrs::setBody(const char*, int) { return 0; }
int CHTTPHdrs::serialize() { return 1; }
const char* CHTTPHdrs::output(int* count) const { *count = 0; return nullptr; }
int CHTTPHdrs::parseHeaders(const char*, int) { return 0; }
const char* CHTTPHdrs::incomingHeader(const char*) const { return nullptr; }
std::vector<std::string> CHTTPHdrs::incomingVias() const { return {}; }
