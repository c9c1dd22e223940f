#pragma once
// Text codec of the SIP client: builds one outgoing message (start line, headers, blank line,
// body) and reads the start line and header block of a received datagram. Received headers and
// the keys derived from them (tags, user and host parts, CSeq method, digest parameters) are found
// by one case-insensitive name lookup.
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class CHTTPHdrs {
public:
    static constexpr int kMaxSlots = 256;

    // Outgoing kinds: index into the method-name table; kResponse writes a status line.
    enum OutKind {
        kGet = 0,
        kOptions,
        kHead,
        kPost,
        kPut,
        kDelete,
        kTrace,
        kConnect,
        kPropfind,
        kProppatch,
        kMkcol,
        kCopy,
        kMove,
        kLock,
        kUnlock,
        kSubscribe,
        kNotify,
        kUnsubscribe,
        kRegister,
        kMessage,
        kInvite,
        kBye,
        kAck,
        kInfo,
        kResponse
    };
    // Kinds of a parsed datagram.
    enum InKind {
        kInNone = 0,
        kInResponse = 1,
        kInNotify = 2,
        kInSubscribe = 3,
        kInUnsubscribe = 4,
        kInRegister = 5,
        kInMessage = 6,
        kInInvite = 7,
        kInBye = 8
    };

    CHTTPHdrs();
    virtual ~CHTTPHdrs();
    CHTTPHdrs(const CHTTPHdrs&) = delete;
    CHTTPHdrs& operator=(const CHTTPHdrs&) = delete;

    // --- outgoing message ---
    int resetOutgoing();
    void setOutgoingKind(int kind);
    int setRequestUri(const char* uri);
    void setStatusCode(int code);
    // Replaces the value of a header already set (any letter case), else appends it.
    int setHeader(const char* name, const char* value);
    // Appends a further line of the same name (echoed Via lines), never replacing.
    int addHeader(const char* name, const char* value);
    const char* outgoingHeader(const char* name) const;
    int setBody(const char* bytes, int count);
    int serialize();
    const char* output(int* count) const;

    // --- incoming message ---
    // Header length including the blank line; 0 when incomplete; -1 when malformed.
    int parseHeaders(const char* bytes, int count);
    // nullptr when the name is absent (an empty value is ""). Inline, so the hash of a literal
    // name is folded at compile time.
    const char* incomingHeader(const char* name) const {
        return name == nullptr ? nullptr : incomingHeader(std::string_view(name));
    }
    const char* incomingHeader(std::string_view name) const {
        return incomingValue(name, nameHash(name));
    }

    // The value of a Via value's branch parameter, as a part of via: blanks after "=" skipped,
    // it ends where the next parameter (";received=…"), the next Via value (",") or a blank
    // begins. nullopt without one.
    static std::optional<std::string_view> viaBranch(std::string_view via);

    // FNV-1a over the lower-case bytes, so names that differ only in case share a hash.
    static constexpr uint32_t nameHash(std::string_view name) {
        uint32_t h = 2166136261u;
        for (char c : name) {
            const char l = (c >= 'A' && c <= 'Z') ? char(c + 32) : c;
            h = (h ^ uint8_t(l)) * 16777619u;
        }
        return h;
    }
    int incomingKind() const { return m_inKind; }
    int incomingStatus() const { return m_inStatus; }
    float incomingVersion() const { return m_inVersion; }
    // Every Via value of the last datagram, in the order received (the table keeps the last).
    std::vector<std::string> incomingVias() const;
    void copyIncomingVias(std::vector<std::string>& out) const;  // reuses out's storage
    // Why the last parse returned -1 (empty after a success).
    const std::string& parseError() const { return m_parseError; }
    // Bytes the incoming side holds: it grows with the largest datagram, never more than a few
    // times its size.
    size_t incomingFootprint() const;

    // A name known at compile time, with its hash.
    struct FixedName {
        const char* text;
        uint32_t length;
        uint32_t hash;
        constexpr FixedName(const char* t)
            : text(t),
              length(uint32_t(std::char_traits<char>::length(t))),
              hash(nameHash(std::string_view(t))) {}
    };

protected:
    // Value of a received header or derived key without a length scan; false when absent.
    bool incomingText(const FixedName& name, std::string_view* value) const;
    void setParseError(const char* why) { m_parseError = why; }

private:
    struct Slot {
        uint32_t nameOff, nameLen, valueOff, valueLen;
        uint32_t nameHash;  // of the lower-case name: most lookups end at one comparison
        const char* fixedName = nullptr;  // a name of static storage, not copied
    };
    // Growable byte store of a table's texts; appends are a bounds check and a copy.
    class Arena {
    public:
        char* data() { return m_data.get(); }
        const char* data() const { return m_data.get(); }
        uint32_t size() const { return m_size; }
        size_t capacity() const { return m_capacity; }
        char& operator[](uint32_t i) { return m_data[i]; }
        void clear() { m_size = 0; }
        void reserve(size_t capacity);
        // Appends the bytes and a terminating zero; the bytes may lie in the arena itself.
        void appendText(const char* bytes, size_t count);

    private:
        std::unique_ptr<char[]> m_data;
        uint32_t m_size = 0;
        size_t m_capacity = 0;
    };

    struct Table {
        static constexpr uint32_t kBuckets = 512;  // open addressing, at most half full
        Arena arena;                               // NUL-terminated names and values back to back
        std::vector<Slot> entries;
        std::array<int16_t, kBuckets> buckets;  // slot number by name hash, -1 free
        Table() { buckets.fill(-1); }
        void append(const Slot& slot);
        const char* text(uint32_t off) const { return arena.data() + off; }
        std::string_view nameOf(const Slot& s) const {
            return std::string_view(s.fixedName ? s.fixedName : text(s.nameOff), s.nameLen);
        }
        int setFixed(const FixedName& name, std::string_view value);
        int find(std::string_view name) const;
        int find(std::string_view name, uint32_t hash) const;
        uint32_t store(std::string_view text);
        int set(std::string_view name, std::string_view value, bool replace);
        int place(const Slot& slot);
        const char* value(std::string_view name) const;
        void clear();
    };

    const char* incomingValue(std::string_view name, uint32_t hash) const;
    void resetIncoming();
    int parseStartLine(const char* data, int lineEnd);
    int parseHeaderBlock(const char* data, int begin, int end);
    uint32_t lineEnd(uint32_t pos, uint32_t stop, uint32_t* colon) const;
    int splitHeaderLine(uint32_t start, uint32_t colon, uint32_t eol);
    int storeIncoming(const Slot& slot);
    void extendLastIncoming(std::string_view more);
    void deriveKeys();
    void deriveVia(int slot);
    struct AddressKeys {
        FixedName user, host, tag;
        bool withTag;
    };
    static const AddressKeys kFromKeys, kToKeys, kContactKeys;
    void setDerived(const FixedName& name, const Slot& s, size_t from, size_t len);
    void deriveAddress(int slot, const AddressKeys& keys);
    void deriveCSeq(int slot);
    void deriveAuthenticate(int slot);
    std::string_view unescape(std::string_view quoted);
    int fail(const char* why);

    Table m_out;
    int m_outKind = kResponse;
    std::string m_requestUri;
    int m_statusCode = 0;
    std::string m_body;
    float m_outVersion = 1.1f;
    std::string m_buffer;

    Table m_in;
    int m_inKind = kInNone;
    int m_inStatus = 0;
    float m_inVersion = 0;
    int m_lastInSlot = -1;
    bool m_lastWasVia = false;
    std::vector<Slot> m_vias;  // every received Via value, offsets into m_in.arena
    std::string m_parseError;
    std::string m_scratch;    // the digest header value, read while the arena grows
    std::string m_unescaped;  // one unescaped digest parameter value
};
