#pragma once
// Message factory and handler of the GB/T 28181 client: builds every request and reply the
// client sends as finished text, and reads every datagram it receives (classification, digest
// challenge, playback dialog answer, catalogue). Pure: no sockets, timers or files.
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include <QDateTime>

#include "CHTTPHdrs.h"
#include "Manscdp.h"

class CCTVCAR : public CHTTPHdrs {
public:
    struct SessionParams {
        std::string HostIP, HostDevCode, HostSIPPort, PlatIP, PlatDevCode, PlatPort, UserName,
            Password, dialogKey, targetCode, SN;
    };
    // Identifiers of the last received request, and the challenge of the last 401.
    struct ReceivedIds {
        std::string Fromtag, Totag, CallID, branch, CSeq, Fromsipip, realm, nonce, opaque;
    };
    // Identifiers of our own requests, drawn by newIdentifiers.
    struct LocalIds {
        std::string tag, CallID, branch, CSeqNumber;
    };
    // Draws the two numbers behind the identifiers (x, y); tests install a fixed source.
    using IdentifierSource = std::function<void(uint32_t& x, uint32_t& y)>;
    // Local wall clock for the SUBSCRIBE start time; tests install a fixed one.
    using ClockSource = std::function<QDateTime()>;

    CCTVCAR();
    ~CCTVCAR() override;

    int setSessionParams(const char* hostIp, const char* hostDevCode, const char* hostSipPort,
                         const char* platIp, const char* platDevCode, const char* platPort,
                         const char* userName, const char* password, const char* dialogKey,
                         const char* targetCode, const char* sn);
    const SessionParams& sessionParams() const { return m_params; }

    void setIdentifierSource(IdentifierSource source);
    void setClockSource(ClockSource source);
    void newIdentifiers();

    // 32 lower-case hex characters into out (33 bytes); 32, or -1 when an argument is missing.
    static int md5Hex(const char* text, char* out);
    // Eight-byte PTZ command as 16 upper-case hex characters.
    static std::string encodePtzCmd(int command, int speed);

    // Every builder returns the message text (valid until the next build) and writes its byte
    // count; a count of 0 with nullptr means nothing was built. The replies build nothing before
    // a request with Via, From, To, Call-ID and CSeq has been received.
    const char* buildRegister(int attempt, int* length);
    const char* buildKeepalive(int* length);
    const char* buildKeepalive();
    const char* buildSubscribe(int* length);
    const char* buildCatalogQuery(int* length);
    const char* buildMessageOk(int* length);
    // MANSCDP MESSAGE asking which recordings of a camera exist between start and end (sent as
    // local time). The SN is the caller's, fresh for each query, so that answers to an earlier
    // query can be told apart. Builds nothing for an empty or non-plain code or a reversed span.
    const char* buildRecordInfoQuery(int* length, const char* cameraCode, const QDateTime& start,
                                     const QDateTime& end, uint32_t sn);
    // The playback dialog: the INVITE fixes its Call-ID and our tag (CSeq 1); the ACK (1 ACK),
    // each INFO and the BYE (the next numbers) carry them with the platform's To tag
    // (remoteTag) and a fresh branch. The replies (MessageOk, PlaybackMessageOk, ByeOk) echo
    // the last received request.
    const char* buildPlaybackInvite(int* length, int64_t start, int64_t end,
                                    const char* cameraCode);
    const char* buildPlaybackAck(int* length);
    const char* buildPlaybackInfo(int* length, int step, const char* scale, int seekPos);
    const char* buildPlaybackMessageOk(int* length);
    const char* buildPlaybackBye(int* length);
    const char* buildByeOk(int* length);
    const char* buildPlayUrlControl(int* length, int start, const char* deviceCode,
                                    const char* channelCode);
    const char* buildDecoderDivision(int* length, const char* decoderCode, int division);
    const char* buildDeviceControl(int* length, const char* cameraCode, const char* ptzCmd);

    // Consumed byte count (> 0), 0 when incomplete, -1 when malformed (parseError() says why).
    // Reads at most count bytes, and a body only up to a zero byte.
    int handleIncoming(const char* bytes, int count);
    // The same for bytes whose headers parseHeaders() has just read, giving headerLength (its
    // result): the session reads the headers first to match them, and does not read them twice.
    int handleParsed(const char* bytes, int count, int headerLength);

    const std::string& messageKind() const { return m_messageKind; }
    const std::vector<SIP_CATALOG>& catalogue() const { return m_catalogue; }
    // What each catalogue item's Status and Event said, in the catalogue's order.
    const std::vector<manscdp::ItemState>& catalogueStates() const { return m_catalogueStates; }
    // What the body of the last datagram was read as: a MESSAGE is routed by it (a catalogue
    // page, a record answer, anything else) without parsing the body again.
    manscdp::Command bodyCommand() const { return m_bodyCommand; }
    // The last record answer page read (replaced by each RecordInfo response).
    const manscdp::RecordPage& recordPage() const { return m_recordPage; }
    // Why parts of the last datagram's body were refused; for the log.
    const manscdp::Notes& bodyNotes() const { return m_bodyNotes; }
    const ReceivedIds& receivedIds() const { return m_received; }
    const LocalIds& localIds() const { return m_local; }
    const std::string& currentRequestName() const { return m_requestName; }
    const std::string& remoteTag() const { return m_remoteTag; }
    const std::string& dialogFromTag() const { return m_dialogFromTag; }
    const std::map<std::string, std::string>& dialogCallIds() const { return m_dialogCallIds; }
    const std::map<std::string, std::string>& dialogTags() const { return m_dialogTags; }
    bool playbackDialogOpen() const { return m_playbackDialogOpen; }
    // Seconds since 1970; 0 until the answer to the current INVITE names its span.
    int64_t recordStart() const { return m_recordStart; }
    int64_t recordEnd() const { return m_recordEnd; }
    int64_t recordDuration() const { return m_recordDuration; }
    const char* lastMessage() const {
        return m_lastMessage.empty() ? nullptr : m_lastMessage.c_str();
    }

private:
    struct Header;
    struct Frame;
    struct Echo {  // raw values of the last received request, for the replies
        std::vector<std::string> vias;
        std::string from, to, callId, cseq;
        bool toHasTag = false;
        bool answerable = false;  // a request with everything a reply echoes was received
    };

    const char* build(const Frame& frame, int* length);
    const char* fail(int* length);
    std::string ownVia() const;
    std::string ownContact() const;
    std::string platformUri(const char* scheme) const;
    bool digestAuthorization(std::string* value) const;
    Frame manscdpFrame(int kind, const char* method) const;
    const char* buildManscdpMessage(int* length, const std::string& body, size_t bodyLimit = 256);
    std::string catalogQueryHead() const;
    std::string controlBody(std::initializer_list<std::string> inner) const;
    std::vector<Header> echoedHeaders();
    const std::string& dialogValue(const std::map<std::string, std::string>& map) const;
    std::string dialogFrom() const;
    std::string dialogTo() const;
    Frame dialogFrame(int kind, const std::string& cseq) const;
    static std::string mansrtspBody(int step, const char* scale, int seekPos);

    int contentLength(int64_t* n) const;
    static int findText(const char* data, int from, int count, std::string_view needle);
    void copyReceivedIds();
    void readChallenge();
    void readRecordTimes(const char* body, int bodyLength);
    const char* cseqMethod() const;
    bool isPlaybackCallId(const char* callId) const;
    void classify(const char* body, int bodyLength);
    void classifyResponse(const char* body, int bodyLength);
    void classifyMessage(const char* body, int bodyLength);
    static std::string_view bodyCmdType(const char* body, int bodyLength);
    void readBody(const char* body, int bodyLength);

    SessionParams m_params;
    IdentifierSource m_idSource;
    ClockSource m_clock;
    std::string m_requestName;
    ReceivedIds m_received;
    LocalIds m_local;
    uint32_t m_tagNumber = 0, m_branchNumber = 0, m_cseqNumber = 0;
    std::map<std::string, std::string> m_dialogCallIds;
    std::map<std::string, std::string> m_dialogTags;
    std::string m_dialogFromTag;
    std::string m_remoteTag;
    int m_dialogCSeq = 1;
    bool m_playbackDialogOpen = false;
    int64_t m_recordDuration = 0, m_recordStart = 0, m_recordEnd = 0;
    std::string m_messageKind;
    std::vector<SIP_CATALOG> m_catalogue;
    std::vector<manscdp::ItemState> m_catalogueStates;
    manscdp::Command m_bodyCommand = manscdp::Command::None;
    manscdp::RecordPage m_recordPage;
    manscdp::Notes m_bodyNotes;
    std::string m_lastMessage;
    std::string m_bodyHolder;
    Echo m_echo;
};
