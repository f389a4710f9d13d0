#include "builtintables.h"

namespace I18n {

namespace {

// Controller messages that the resource file does not carry.
// Columns: source (zh-Hans), en, zh-Hant, ru, fr, ko, ja.
const TranslationRecord kRecords[] = {
    {"用户协议", "User Agreement", "用戶協議", "Пользовательское соглашение", "Conditions d'utilisation", "이용 약관", "利用規約"},
    // Application shell and controller state
    {"登录后同步你的岚舟节点", "Sign in to sync your Quillet nodes", "登入後同步你的嵐舟節點",
     "Войдите, чтобы синхронизировать узлы Quillet", "Connectez-vous pour synchroniser vos nœuds Quillet",
     "로그인하면 Quillet 노드가 동기화됩니다", "ログインして嵐舟のノードを同期"},
    {"加载中...", "Loading...", "載入中...", "Загрузка...", "Chargement...", "불러오는 중...", "読み込み中..."},
    {"已退出登录", "Signed out", "已登出", "Вы вышли из аккаунта", "Déconnecté", "로그아웃되었습니다", "ログアウトしました"},
    {"界面加载失败，应用无法启动。\n日志目录：%1",
     "The interface failed to load and the app cannot start.\nLog folder: %1",
     "介面載入失敗，應用程式無法啟動。\n日誌目錄：%1",
     "Не удалось загрузить интерфейс, приложение не может запуститься.\nПапка журналов: %1",
     "Impossible de charger l'interface, l'application ne peut pas démarrer.\nDossier des journaux : %1",
     "화면을 불러오지 못해 앱을 시작할 수 없습니다.\n로그 폴더: %1",
     "画面の読み込みに失敗したため、アプリを起動できません。\nログフォルダー：%1"},
    {"岚舟启动失败", "Quillet failed to start", "嵐舟啟動失敗", "Не удалось запустить Quillet", "Échec du démarrage de Quillet",
     "Quillet을 시작하지 못했습니다", "嵐舟の起動に失敗しました"},
    {"显示岚舟", "Show Quillet", "顯示嵐舟", "Показать Quillet", "Afficher Quillet", "Quillet 보기", "嵐舟を表示"},
    {"退出", "Quit", "退出", "Выход", "Quitter", "종료", "終了"},
    {"岚舟 - 专业版", "Quillet - Pro", "嵐舟 - 專業版", "Quillet - Pro", "Quillet - Pro", "Quillet - 프로", "嵐舟 - プロ版"},
};

struct MapEntry
{
    const char *source;
    const char *translation;
};

// Per-language lists for texts of the tunnel and service layer.
const MapEntry kEnEntries[] = {
    {"未连接", "Not connected"},
    {"VPN 核心启动异常：%1", "The VPN core failed: %1"},
};
const MapEntry kZhHantEntries[] = {
    {"未连接", "未連接"},
    {"VPN 核心启动异常：%1", "VPN 核心啟動異常：%1"},
};
const MapEntry kRuEntries[] = {
    {"未连接", "Не подключено"},
    {"VPN 核心启动异常：%1", "Сбой ядра VPN: %1"},
};
const MapEntry kFrEntries[] = {
    {"未连接", "Non connecté"},
    {"VPN 核心启动异常：%1", "Échec du moteur VPN : %1"},
};
const MapEntry kKoEntries[] = {
    {"未连接", "연결되지 않음"},
    {"VPN 核心启动异常：%1", "VPN 코어 실행 오류: %1"},
};
const MapEntry kJaEntries[] = {
    {"未连接", "未接続"},
    {"VPN 核心启动异常：%1", "VPN コアの起動エラー：%1"},
};

template<std::size_t N>
QHash<QString, QString> toMap(const MapEntry (&entries)[N])
{
    QHash<QString, QString> map;
    map.reserve(int(N));
    for (const MapEntry &entry : entries)
        map.insert(QString::fromUtf8(entry.source), QString::fromUtf8(entry.translation));
    return map;
}

} // namespace

const TranslationRecord *builtinRecords(int *count)
{
    *count = int(sizeof(kRecords) / sizeof(kRecords[0]));
    return kRecords;
}

const QHash<QString, QHash<QString, QString>> &builtinLanguageMaps()
{
    static const QHash<QString, QHash<QString, QString>> maps{
        {QStringLiteral("en"), toMap(kEnEntries)},     {QStringLiteral("zh-Hant"), toMap(kZhHantEntries)},
        {QStringLiteral("ru"), toMap(kRuEntries)},     {QStringLiteral("fr"), toMap(kFrEntries)},
        {QStringLiteral("ko"), toMap(kKoEntries)},     {QStringLiteral("ja"), toMap(kJaEntries)},
    };
    return maps;
}

} // namespace I18n
