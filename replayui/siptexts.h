#pragma once
// Texts of the requests the codec does not build, made from an INVITE the console sent: the
// CANCEL (RFC 3261 §9.1), and the ACK and BYE for an INVITE whose dialog the codec no longer
// holds. Also the fields a transaction is recognised by. Pure: text in, text out.
#include <cstdint>
#include <string>
#include <string_view>

namespace siptexts {

// The value of the branch parameter of a Via value ("" when it has none).
std::string viaBranch(std::string_view via);
// The leading number of a CSeq value; false when it does not start with a number that fits.
bool cseqNumber(std::string_view cseq, uint32_t* number);
// The method of a CSeq value, in upper case ("" when there is none).
std::string cseqMethod(std::string_view cseq);
// The value of the first header of that name (letter case ignored); "" when absent.
std::string header(std::string_view message, std::string_view name);
// The Via value with the value of its branch parameter replaced.
std::string withBranch(std::string_view via, std::string_view branch);

// The message with its start line replaced; "" when it has none.
std::string withStatusLine(std::string_view message, std::string_view statusLine);

// CANCEL for an INVITE: its Request-URI, top Via, From, To, Call-ID and CSeq number.
// "" when the INVITE lacks one of them.
std::string cancelFor(std::string_view invite);
// ACK for a final answer to the INVITE whose To value is `to`. A failure is acknowledged inside
// the INVITE's transaction, with its Via (§17.1.1.3, `via` empty); a 2xx with a Via of its own
// (§13.2.2.4).
std::string ackFor(std::string_view invite, std::string_view to, std::string_view via = {});
// BYE that ends the dialog a 2xx to the INVITE opened: the next CSeq number, a Via of its own.
std::string byeFor(std::string_view invite, std::string_view to, std::string_view via);

// The address of the first "c=" line in the SDP body of a message ("c=IN IP4 10.1.1.9" gives
// "10.1.1.9"; a multicast "/ttl" is left off); "" when the body has none.
std::string sdpConnectionAddress(std::string_view message);

}  // namespace siptexts
