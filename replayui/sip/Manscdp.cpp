#include "Manscdp.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include <QDomDocument>
#include <QTextCodec>

#include "gbk_text.h"

namespace manscdp {

namespace {

constexpr int kShownChars = 40;
constexpr int kMaxDepth = 32;

QTextCodec* localCodec() {
    static QTextCodec* codec = QTextCodec::codecForName("GB18030");
    return codec;
}

template <size_t N>
void copyBytes(char (&field)[N], const char* bytes, size_t count) {
    count = std::min(count, N - 1);
    std::memcpy(field, bytes, count);
    field[count] = '\0';
}

// The name in the local encoding, cut at a character boundary to fit the field. Every character
// takes at least one byte, so no more characters than the field holds are ever encoded.
void copyName(char (&field)[256], const QString& name) {
    QString head = name.left(int(sizeof field));
    if (!head.isEmpty() && head.at(head.size() - 1).isHighSurrogate())
        head.chop(1);
    const QByteArray bytes = localCodec()->fromUnicode(head);
    copyBytes(field, bytes.constData(),
              GbkFit(bytes.constData(), size_t(bytes.size()), sizeof field - 1));
}

bool isPrintableAscii(const QString& text) {
    return std::all_of(text.begin(), text.end(),
                       [](QChar c) { return c.unicode() > 0x20 && c.unicode() < 0x7F; });
}

// A code, an address: held whole when it fits the field and is printable ASCII; otherwise
// refused, the field keeps what it held (as if the element were absent), and a note says why.
template <size_t N>
bool readCode(char (&field)[N], const QString& text, const char* element, Notes* notes) {
    const QString t = text.trimmed();
    if (size_t(t.size()) < N && isPrintableAscii(t)) {
        const QByteArray bytes = t.toLatin1();
        copyBytes(field, bytes.constData(), size_t(bytes.size()));
        return true;
    }
    notes->add(std::string("catalogue item: ") + element + " " + shown(t) + " refused (" +
               std::to_string(t.size()) + " characters; at most " + std::to_string(N - 1) +
               " printable ASCII characters fit)");
    return false;
}

// Decimal value of a digit group; a group that is not all digits gives 0.
int32_t digitsValue(const QString& s, int from, int count) {
    int32_t value = 0;
    for (int i = from; i < from + count; ++i) {
        const QChar c = s.at(i);
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return 0;
        value = value * 10 + (c.unicode() - '0');
    }
    return value;
}

bool isAcceptedType(int32_t t) {
    return (t >= 1 && t <= 6) || t == 17 || t == 21 || t == 401;
}

// A 20-character code: type at 11..13; line, station, zones and the item number from the
// others. Codes of another length are refused whole rather than read out of range or cut; codes
// of a type the console does not use are passed over.
void readDeviceId(SIP_CATALOG& c, const QString& text, Notes* notes) {
    const QString id = text.trimmed();
    if (id.size() != 20 || !isPrintableAscii(id)) {
        notes->add("catalogue item: DeviceID " + shown(id) +
                   " refused (a device code has 20 printable ASCII characters)");
        return;
    }
    const int32_t t = digitsValue(id, 11, 3);
    if (!isAcceptedType(t))
        return;
    const QByteArray bytes = id.toLatin1();
    copyBytes(c.DeviceID, bytes.constData(), size_t(bytes.size()));
    c.typeCode = t;
    c.idNumber = t <= 6 ? digitsValue(id.mid(4, 2) + id.mid(14, 6), 0, 8)
                        : t * 1000 + digitsValue(id, 14, 6) + digitsValue(id, 6, 3) * 100000;
    c.idGroupA = digitsValue(id, 0, 3);
    c.idGroupB = digitsValue(id, 4, 2);
    const bool onTrain = c.idGroupB == 99;
    c.idGroupC = onTrain ? digitsValue(id, 6, 3) : digitsValue(id, 6, 2);
    c.idGroupD = onTrain ? digitsValue(id, 9, 2) : digitsValue(id, 8, 3);
}

ItemState::Status statusOf(const QString& text) {
    if (text == QLatin1String("ON"))
        return ItemState::Status::On;
    return text == QLatin1String("OFF") ? ItemState::Status::Off : ItemState::Status::Unknown;
}

SIP_CATALOG readCatalogItem(const QDomElement& item, Notes* notes, ItemState* state) {
    SIP_CATALOG c;
    std::memset(&c, 0, sizeof c);
    *state = ItemState();
    for (QDomElement e = item.firstChildElement(); !e.isNull(); e = e.nextSiblingElement()) {
        const QString tag = e.tagName();
        const QString text = e.text();
        if (tag == QLatin1String("DeviceID")) {
            readDeviceId(c, text, notes);
        } else if (tag == QLatin1String("Name")) {
            copyName(c.Name, text);
        } else if (tag == QLatin1String("ParentID")) {
            readCode(c.ParentID, text, "ParentID", notes);
        } else if (tag == QLatin1String("IPAddress")) {
            readCode(c.IPAddress, text, "IPAddress", notes);
        } else if (tag == QLatin1String("Status")) {
            c.online = text == QLatin1String("ON") ? 1 : 0;
            c.statusMarkA = c.statusMarkB = 1;
            state->status = statusOf(text);
            state->statusShown = shown(text);
        } else if (tag == QLatin1String("Event")) {
            state->event = text.trimmed().left(16).toStdString();
        } else if (tag == QLatin1String("RegisterWay")) {
            c.registerWay = text.trimmed().toInt();
        } else if (tag == QLatin1String("ChannelNum")) {
            c.channelNum = text.trimmed().toInt();
        }
    }
    return c;
}

bool isItem(const QDomElement& e) {
    return e.tagName().compare(QLatin1String("Item"), Qt::CaseInsensitive) == 0;
}

// Every Catalog body replaces the catalogue with its own items, also when it has none.
void readCatalogue(const QDomElement& root, std::vector<SIP_CATALOG>* catalogue, Notes* notes,
                   std::vector<ItemState>* states) {
    catalogue->clear();
    if (states != nullptr)
        states->clear();
    const QDomElement list = root.firstChildElement(QStringLiteral("DeviceList"));
    for (QDomElement e = list.firstChildElement(); !e.isNull(); e = e.nextSiblingElement()) {
        if (!isItem(e))
            continue;
        ItemState state;
        catalogue->push_back(readCatalogItem(e, notes, &state));
        if (states != nullptr)
            states->push_back(std::move(state));
    }
}

QString childText(const QDomElement& parent, const char* name) {
    return parent.firstChildElement(QLatin1String(name)).text().trimmed();
}

RecordItem readRecordItem(const QDomElement& item) {
    return RecordItem{childText(item, "DeviceID"),  childText(item, "Name"),
                      childText(item, "StartTime"), childText(item, "EndTime"),
                      childText(item, "Secrecy"),   childText(item, "Type")};
}

RecordPage readRecordPage(const QDomElement& root) {
    RecordPage page;
    page.sn = childText(root, "SN");
    page.deviceId = childText(root, "DeviceID");
    const QDomElement sumNum = root.firstChildElement(QStringLiteral("SumNum"));
    page.hasSumNum = !sumNum.isNull();
    page.sumNum = sumNum.text().trimmed();
    const QDomElement list = root.firstChildElement(QStringLiteral("RecordList"));
    for (QDomElement e = list.firstChildElement(); !e.isNull(); e = e.nextSiblingElement()) {
        if (isItem(e))
            page.items.push_back(readRecordItem(e));
    }
    return page;
}

// Markup that opens no element, and where it ends; the longer openings first.
struct Unnested {
    QLatin1String open, close;
};
const Unnested kUnnested[] = {{QLatin1String("<!--"), QLatin1String("-->")},
                              {QLatin1String("<![CDATA["), QLatin1String("]]>")},
                              {QLatin1String("<?"), QLatin1String("?>")},
                              {QLatin1String("<!"), QLatin1String(">")}};

// Whether no element of the text nests deeper than the limit. The XML reader's time grows with
// the square of the depth, so a deep body would stall the GUI thread; MANSCDP needs a handful.
bool nestingWithin(const QString& text, int limit) {
    int depth = 0;
    for (int i = text.indexOf(QLatin1Char('<')); i >= 0;
         i = text.indexOf(QLatin1Char('<'), i + 1)) {
        const QStringRef at = text.midRef(i);
        QLatin1String close(">");
        int step = 1;  // an element opens; -1: one closes
        if (at.startsWith(QLatin1String("</"))) {
            step = -1;
        } else {
            for (const Unnested& u : kUnnested) {
                if (at.startsWith(u.open)) {
                    close = u.close;
                    step = 0;
                    break;
                }
            }
        }
        const int end = text.indexOf(close, i + 1);
        if (end < 0)
            break;
        if (step > 0 && text.at(end - 1) == QLatin1Char('/'))
            step = 0;  // <x/>
        depth += step;
        if (depth > limit)
            return false;
        i = end;
    }
    return true;
}

// The body as a document. A DOCTYPE is refused outright: MANSCDP has none, and its entities are
// how a few hundred bytes expand to gigabytes.
bool load(const char* body, int length, QDomDocument* doc, Notes* notes) {
    const QString text = localCodec()->toUnicode(body, length);
    // The codec reads what is not GB18030 as replacement characters and does not count them.
    if (const int invalid = text.count(QChar::ReplacementCharacter))
        notes->add("MANSCDP body holds " + std::to_string(invalid) +
                   " characters that are not GB18030");
    if (text.contains(QLatin1String("<!DOCTYPE")) || text.contains(QLatin1String("<!ENTITY"))) {
        notes->add("MANSCDP body refused: it declares a DOCTYPE");
        return false;
    }
    if (!nestingWithin(text, kMaxDepth)) {
        notes->add("MANSCDP body refused: its elements nest deeper than " +
                   std::to_string(kMaxDepth));
        return false;
    }
    QString error;
    int line = 0;
    if (!doc->setContent(text, &error, &line)) {
        notes->add("MANSCDP body is not well-formed XML (line " + std::to_string(line) +
                   "): " + shown(error));
        return false;
    }
    return true;
}

}  // namespace

void Notes::add(std::string text) {
    if (m_lines.size() < kKept) {
        m_lines.push_back(std::move(text));
    } else {
        ++m_more;
    }
}

void Notes::clear() {
    m_lines.clear();
    m_more = 0;
}

std::string shown(const QString& text) {
    std::string out = "\"";
    for (int i = 0; i < text.size() && i < kShownChars; ++i) {
        const ushort c = text.at(i).unicode();
        out += (c >= 0x20 && c < 0x7F) ? char(c) : '?';
    }
    out += text.size() > kShownChars ? "...\"" : "\"";
    return out;
}

Command read(const char* body, int length, std::vector<SIP_CATALOG>* catalogue, RecordPage* page,
             Notes* notes, std::vector<ItemState>* states) {
    if (body == nullptr || length <= 0)
        return Command::None;
    // Only a body that names one of the two commands read here is worth a document parse.
    const std::string_view raw(body, size_t(length));
    if (raw.find("Catalog") == std::string_view::npos &&
        raw.find("RecordInfo") == std::string_view::npos)
        return Command::Other;
    QDomDocument doc;
    if (!load(body, length, &doc, notes))
        return Command::Other;
    const QDomElement root = doc.documentElement();
    const QString command = root.firstChildElement(QStringLiteral("CmdType")).text();
    const bool response = root.tagName() == QLatin1String("Response");
    if (command == QLatin1String("Catalog") &&
        (response || root.tagName() == QLatin1String("Notify"))) {
        readCatalogue(root, catalogue, notes, states);
        return Command::Catalog;
    }
    if (command == QLatin1String("RecordInfo") && response) {
        *page = readRecordPage(root);
        return Command::RecordInfo;
    }
    return Command::Other;
}

}  // namespace manscdp
