#include "placenames.h"
#include "translations.h"

#include <QHash>
#include <QStringList>

namespace I18n {

namespace {

// Columns: code (countries only), zh-Hans, zh-Hant, en, ru, fr, ko, ja.
struct PlaceRow
{
    const char *code;
    const char *names[7];
};

const PlaceRow kCountries[] = {
    {"HK", {"香港", "香港", "Hong Kong", "Гонконг", "Hong Kong", "홍콩", "香港"}},
    {"MO", {"澳门", "澳門", "Macao", "Макао", "Macao", "마카오", "マカオ"}},
    {"TW", {"台湾", "台灣", "Taiwan", "Тайвань", "Taïwan", "대만", "台湾"}},
    {"JP", {"日本", "日本", "Japan", "Япония", "Japon", "일본", "日本"}},
    {"KR", {"韩国", "韓國", "South Korea", "Южная Корея", "Corée du Sud", "한국", "韓国"}},
    {"SG", {"新加坡", "新加坡", "Singapore", "Сингапур", "Singapour", "싱가포르", "シンガポール"}},
    {"US", {"美国", "美國", "United States", "США", "États-Unis", "미국", "アメリカ"}},
    {"CA", {"加拿大", "加拿大", "Canada", "Канада", "Canada", "캐나다", "カナダ"}},
    {"GB", {"英国", "英國", "United Kingdom", "Великобритания", "Royaume-Uni", "영국", "イギリス"}},
    {"DE", {"德国", "德國", "Germany", "Германия", "Allemagne", "독일", "ドイツ"}},
    {"FR", {"法国", "法國", "France", "Франция", "France", "프랑스", "フランス"}},
    {"NL", {"荷兰", "荷蘭", "Netherlands", "Нидерланды", "Pays-Bas", "네덜란드", "オランダ"}},
    {"RU", {"俄罗斯", "俄羅斯", "Russia", "Россия", "Russie", "러시아", "ロシア"}},
    {"AU", {"澳大利亚", "澳大利亞", "Australia", "Австралия", "Australie", "호주", "オーストラリア"}},
    {"IN", {"印度", "印度", "India", "Индия", "Inde", "인도", "インド"}},
    {"TH", {"泰国", "泰國", "Thailand", "Таиланд", "Thaïlande", "태국", "タイ"}},
    {"VN", {"越南", "越南", "Vietnam", "Вьетнам", "Viêt Nam", "베트남", "ベトナム"}},
    {"MY", {"马来西亚", "馬來西亞", "Malaysia", "Малайзия", "Malaisie", "말레이시아", "マレーシア"}},
    {"PH", {"菲律宾", "菲律賓", "Philippines", "Филиппины", "Philippines", "필리핀", "フィリピン"}},
    {"ID", {"印度尼西亚", "印度尼西亞", "Indonesia", "Индонезия", "Indonésie", "인도네시아", "インドネシア"}},
    {"TR", {"土耳其", "土耳其", "Türkiye", "Турция", "Turquie", "튀르키예", "トルコ"}},
    {"AE", {"阿联酋", "阿聯酋", "United Arab Emirates", "ОАЭ", "Émirats arabes unis", "아랍에미리트", "アラブ首長国連邦"}},
    {"BR", {"巴西", "巴西", "Brazil", "Бразилия", "Brésil", "브라질", "ブラジル"}},
    {"AR", {"阿根廷", "阿根廷", "Argentina", "Аргентина", "Argentine", "아르헨티나", "アルゼンチン"}},
    {"MX", {"墨西哥", "墨西哥", "Mexico", "Мексика", "Mexique", "멕시코", "メキシコ"}},
    {"IT", {"意大利", "義大利", "Italy", "Италия", "Italie", "이탈리아", "イタリア"}},
    {"ES", {"西班牙", "西班牙", "Spain", "Испания", "Espagne", "스페인", "スペイン"}},
    {"CH", {"瑞士", "瑞士", "Switzerland", "Швейцария", "Suisse", "스위스", "スイス"}},
    {"SE", {"瑞典", "瑞典", "Sweden", "Швеция", "Suède", "스웨덴", "スウェーデン"}},
    {"AT", {"奥地利", "奧地利", "Austria", "Австрия", "Autriche", "오스트리아", "オーストリア"}},
    {"PL", {"波兰", "波蘭", "Poland", "Польша", "Pologne", "폴란드", "ポーランド"}},
    {"IE", {"爱尔兰", "愛爾蘭", "Ireland", "Ирландия", "Irlande", "아일랜드", "アイルランド"}},
    {"FI", {"芬兰", "芬蘭", "Finland", "Финляндия", "Finlande", "핀란드", "フィンランド"}},
    {"UA", {"乌克兰", "烏克蘭", "Ukraine", "Украина", "Ukraine", "우크라이나", "ウクライナ"}},
    {"KZ", {"哈萨克斯坦", "哈薩克", "Kazakhstan", "Казахстан", "Kazakhstan", "카자흐스탄", "カザフスタン"}},
    {"IL", {"以色列", "以色列", "Israel", "Израиль", "Israël", "이스라엘", "イスラエル"}},
    {"ZA", {"南非", "南非", "South Africa", "ЮАР", "Afrique du Sud", "남아프리카 공화국", "南アフリカ"}},
};

// Cities and the words node names are made of.
const PlaceRow kNameParts[] = {
    {"", {"九龙", "九龍", "Kowloon", "Коулун", "Kowloon", "가우룽", "九龍"}},
    {"", {"沙田", "沙田", "Sha Tin", "Шатин", "Sha Tin", "사틴", "沙田"}},
    {"", {"中环", "中環", "Central", "Центральный", "Central", "센트럴", "セントラル"}},
    {"", {"东京", "東京", "Tokyo", "Токио", "Tokyo", "도쿄", "東京"}},
    {"", {"大阪", "大阪", "Osaka", "Осака", "Osaka", "오사카", "大阪"}},
    {"", {"首尔", "首爾", "Seoul", "Сеул", "Séoul", "서울", "ソウル"}},
    {"", {"台北", "台北", "Taipei", "Тайбэй", "Taipei", "타이베이", "台北"}},
    {"", {"洛杉矶", "洛杉磯", "Los Angeles", "Лос-Анджелес", "Los Angeles", "로스앤젤레스", "ロサンゼルス"}},
    {"", {"圣何塞", "聖荷西", "San Jose", "Сан-Хосе", "San José", "산호세", "サンノゼ"}},
    {"", {"旧金山", "舊金山", "San Francisco", "Сан-Франциско", "San Francisco", "샌프란시스코", "サンフランシスコ"}},
    {"", {"硅谷", "矽谷", "Silicon Valley", "Кремниевая долина", "Silicon Valley", "실리콘밸리", "シリコンバレー"}},
    {"", {"纽约", "紐約", "New York", "Нью-Йорк", "New York", "뉴욕", "ニューヨーク"}},
    {"", {"西雅图", "西雅圖", "Seattle", "Сиэтл", "Seattle", "시애틀", "シアトル"}},
    {"", {"芝加哥", "芝加哥", "Chicago", "Чикаго", "Chicago", "시카고", "シカゴ"}},
    {"", {"达拉斯", "達拉斯", "Dallas", "Даллас", "Dallas", "댈러스", "ダラス"}},
    {"", {"伦敦", "倫敦", "London", "Лондон", "Londres", "런던", "ロンドン"}},
    {"", {"法兰克福", "法蘭克福", "Frankfurt", "Франкфурт", "Francfort", "프랑크푸르트", "フランクフルト"}},
    {"", {"巴黎", "巴黎", "Paris", "Париж", "Paris", "파리", "パリ"}},
    {"", {"阿姆斯特丹", "阿姆斯特丹", "Amsterdam", "Амстердам", "Amsterdam", "암스테르담", "アムステルダム"}},
    {"", {"悉尼", "雪梨", "Sydney", "Сидней", "Sydney", "시드니", "シドニー"}},
    {"", {"多伦多", "多倫多", "Toronto", "Торонто", "Toronto", "토론토", "トロント"}},
    {"", {"莫斯科", "莫斯科", "Moscow", "Москва", "Moscou", "모스크바", "モスクワ"}},
    {"", {"智能选路", "智慧選路", "Smart route", "умный маршрут", "Route intelligente", "스마트 경로", "スマートルート"}},
    {"", {"主线", "主線", "Main line", "основная линия", "Ligne principale", "메인 라인", "メインライン"}},
};

const QString kSeparator = QStringLiteral(" · ");

int columnFor(const QString &effectiveLanguage)
{
    static const QStringList columns{QStringLiteral("zh-Hans"), QStringLiteral("zh-Hant"), QStringLiteral("en"),
                                     QStringLiteral("ru"),      QStringLiteral("fr"),      QStringLiteral("ko"),
                                     QStringLiteral("ja")};
    const int column = columns.indexOf(effectiveLanguage);
    return column < 0 ? 2 : column;
}

// Every spelling, folded, to its row; built once.
template <std::size_t N>
QHash<QString, const PlaceRow *> indexByName(const PlaceRow (&rows)[N])
{
    QHash<QString, const PlaceRow *> index;
    for (const PlaceRow &row : rows) {
        for (const char *name : row.names)
            index.insert(QString::fromUtf8(name).toCaseFolded(), &row);
    }
    return index;
}

const PlaceRow *countryByCode(const QString &code)
{
    QString folded = code.trimmed().toUpper();
    if (folded == QLatin1String("UK"))
        folded = QStringLiteral("GB");
    if (folded.isEmpty())
        return nullptr;
    for (const PlaceRow &row : kCountries) {
        if (folded == QLatin1String(row.code))
            return &row;
    }
    return nullptr;
}

const PlaceRow *placeByName(const QString &part, const QString &countryCode)
{
    static const QHash<QString, const PlaceRow *> countries = indexByName(kCountries);
    static const QHash<QString, const PlaceRow *> parts = indexByName(kNameParts);
    const QString folded = part.toCaseFolded();
    if (const PlaceRow *row = countries.value(folded))
        return row;
    if (const PlaceRow *row = parts.value(folded))
        return row;
    // A part that is just the country code ("HK") names the country.
    if (!countryCode.trimmed().isEmpty() && folded == countryCode.trimmed().toCaseFolded())
        return countryByCode(countryCode);
    return nullptr;
}

} // namespace

QString countryNameForLanguage(const QString &language, const QString &countryCode)
{
    const PlaceRow *row = countryByCode(countryCode);
    return row ? QString::fromUtf8(row->names[columnFor(effectiveDesktopLanguage(language))]) : QString();
}

QString localizedPlaceName(const QString &language, const QString &name, const QString &countryCode)
{
    const QString trimmed = name.trimmed();
    if (trimmed.isEmpty())
        return countryNameForLanguage(language, countryCode);
    const int column = columnFor(effectiveDesktopLanguage(language));
    QStringList parts = trimmed.split(QChar(0x00B7)); // "·", with or without blanks around it
    for (QString &part : parts) {
        part = part.trimmed();
        if (const PlaceRow *row = placeByName(part, countryCode))
            part = QString::fromUtf8(row->names[column]);
        else if (!part.isEmpty())
            part = translatedTextForLanguage(language, part);
    }
    return parts.join(kSeparator);
}

} // namespace I18n
