#include "apierrors.h"

#include "apirequest.h"

#include <QStringList>

namespace Api {

namespace {

struct ErrorRow
{
    const char *keys[4]; // tried in order; unused slots are null
    const char *message;
};

// First row whose key the lower-cased error text contains wins, so the more
// specific keys ("new password ...", "timed out") come before the general ones.
const ErrorRow kErrorRows[] = {
    {{"invalid credentials"}, "用户名或密码错误"},
    {{"valid email is required"}, "请输入有效的邮箱地址。"},
    {{"email verification is required"}, "请先完成邮箱验证码验证。"},
    {{"email already exists"}, "该邮箱已注册，请直接登录或更换邮箱。"},
    {{"verification code resend too frequently"}, "验证码发送过于频繁，请 60 秒后再试。"},
    {{"valid email verification code is required"}, "验证码无效或已过期，请重新获取。"},
    {{"invalid or expired verification code"}, "验证码无效或已过期，请重新获取。"},
    {{"email does not exist"}, "该邮箱尚未注册，请检查邮箱或先创建账号。"},
    {{"current password is incorrect"}, "当前密码不正确，请重新输入。"},
    {{"new password must be at least 8 characters"}, "新密码至少需要 8 位。"},
    {{"password must be at least 8 characters"}, "密码至少需要 8 位。"},
    {{"account disabled", "account banned", "account suspended", "user disabled"}, "您的账号已被封禁，请联系客服。"},
    {{"device limit exceeded"}, "设备额度已满，系统会自动下线最早登录的设备，请重新登录。"},
    {{"invalid token", "session expired", "session user missing"}, "登录状态已失效，请重新登录。"},
    {{"node not found"}, "节点不存在或已下架，请选择其他节点。"},
    {{"plan not found"}, "套餐不存在或已下架，请刷新后重试。"},
    {{"order_id is required"}, "订单信息缺失，请重新发起支付。"},
    {{"order not found"}, "未找到该订单，请刷新订单列表后重试。"},
    {{"pending order exists"}, "您还有未支付订单，请先继续支付或取消后再下单。"},
    {{"order already paid"}, "该订单已完成支付，无需重复操作。"},
    {{"order already canceled", "order already cancelled"}, "该订单已取消，请重新创建新订单。"},
    {{"trial already claimed today"}, "您今天已领取，请明天再来。"},
    {{"trial is disabled", "trial disabled"}, "今日体验会员暂不可领取。"},
    {{"trial unavailable for paid member"}, "付费会员无需领取体验会员。"},
    {{"paid order cannot be canceled"}, "已支付订单不能取消。"},
    {{"device_id is required"}, "设备信息缺失，无法执行下线操作。"},
    {{"cannot revoke current device"}, "不能下线当前正在使用的设备。"},
    {{"device session not found"}, "目标设备已不在线，请刷新设备列表后重试。"},
    {{"subject and message are required"}, "请输入消息内容，或先添加图片/视频。"},
    {{"ticket not found"}, "未找到该在线客服会话，请刷新后重试。"},
    {{"user not found"}, "账号不存在或已被删除，请联系管理员。"},
    {{"host not found", "temporary failure in name resolution"}, "无法连接服务器，请检查网络或服务器地址。"},
    {{"connection refused"}, "服务器暂时无法连接，请稍后重试。"},
    {{"timed out", "timeout"}, "请求超时，请检查网络后重试。"},
    {{"ssl", "tls"}, "安全连接失败，请检查系统时间、证书或网络代理设置。"},
    {{"method not allowed"}, "请求方式不正确，请刷新后重试。"},
    {{"at least one node is required"}, "至少需要保留一个节点。"},
    {{"node id and name are required"}, "节点 ID 和名称不能为空。"},
    {{"at least one plan is required"}, "至少需要保留一个套餐。"},
    {{"plan id and name are required"}, "套餐 ID 和名称不能为空。"},
    {{"announcement title and body are required"}, "公告标题和内容不能为空。"},
};

const char kSessionExpired[] = "登录状态已失效，请重新登录。";
const char kNotFound[] = "请求的资源不存在，请刷新后重试。";
const char kMailUnavailable[] = "邮件服务暂时不可用，请稍后重试。";
const char kServerUnavailable[] = "服务器暂时不可用，请稍后再试。";
const char kFailedTryLater[] = "操作失败，请稍后重试。";
const char kFailedCheckInput[] = "操作失败，请检查输入后重试。";

bool containsCjkIdeograph(const QString &text)
{
    for (const QChar ch : text) {
        if (ch.unicode() >= 0x4E00 && ch.unicode() <= 0x9FFF)
            return true;
    }
    return false;
}

// The server's own text goes to the user as it is, except for control
// characters (a line break stays), which no message needs.
QString withoutControlCharacters(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar ch : text) {
        if (ch == QLatin1Char('\n') || (ch.unicode() >= 0x20 && ch.unicode() != 0x7F && !(ch.unicode() >= 0x80 && ch.unicode() < 0xA0)))
            out.append(ch);
    }
    return out.trimmed();
}

struct LoadingRow
{
    const char *needles[2]; // any one contained in the path; unused slot null
    const char *suffix;     // or the path ends with this; may be null
    const char *text;
};

// Order matters: "/messages/read" before "/messages", the orders list before
// "/orders/cancel" (which the list prefix also matches).
const LoadingRow kLoadingRows[] = {
    {{"/support/chat"}, nullptr, "正在同步聊天记录..."},
    {{"/messages/read"}, nullptr, "正在同步消息状态..."},
    {{"/messages"}, nullptr, "正在加载消息内容..."},
    {{"/support/media"}, nullptr, "正在上传客服附件..."},
    {{"/support/read"}, nullptr, "正在同步客服状态..."},
    {{"/devices/revoke"}, nullptr, "正在更新设备状态..."},
    {{"/devices"}, nullptr, "正在同步设备信息..."},
    {{"/invite"}, nullptr, "正在同步邀请数据..."},
    {{"/billing"}, nullptr, "正在同步账单数据..."},
    {{"/api/v1/orders"}, "/orders", "正在同步订单状态..."},
    {{"/orders/cancel"}, nullptr, "正在取消订单..."},
    {{"/payments/checkout", "/plans/checkout"}, nullptr, "正在处理支付订单..."},
    {{"/payments/confirm"}, nullptr, "正在确认支付结果..."},
    {{"/speedtest"}, nullptr, "正在执行测速..."},
    {{"/bootstrap"}, nullptr, "正在同步账户与节点信息..."},
    {{"/experience"}, nullptr, "正在同步页面数据..."},
    {{"/config"}, nullptr, "正在拉取节点配置..."},
    {{"/auth/"}, nullptr, "正在处理账号请求..."},
    {{"/preferences"}, nullptr, "正在保存偏好设置..."},
};

const char kDefaultLoadingText[] = "正在处理中...";

} // namespace

QString friendlyErrorMessage(const QString &errorText, int status)
{
    const QString trimmed = errorText.trimmed();
    const QString lower = trimmed.toLower();

    if (lower.isEmpty()) {
        if (status == 401)
            return QString::fromUtf8(kSessionExpired);
        if (status == 404)
            return QString::fromUtf8(kNotFound);
        if (status == 502)
            return QString::fromUtf8(kMailUnavailable);
        if (status > 499)
            return QString::fromUtf8(kServerUnavailable);
        return QString::fromUtf8(kFailedTryLater);
    }

    for (const ErrorRow &row : kErrorRows) {
        for (const char *key : row.keys) {
            if (key && lower.contains(QLatin1String(key)))
                return QString::fromUtf8(row.message);
        }
    }

    if (containsCjkIdeograph(trimmed))
        return withoutControlCharacters(trimmed);

    if (status == 401) {
        return lower.contains(QLatin1String("unauthorized")) ? QString::fromUtf8(kSessionExpired)
                                                              : QString::fromUtf8(kFailedCheckInput);
    }
    if (status == 404)
        return QString::fromUtf8(kNotFound);
    if (status == 502)
        return QString::fromUtf8(kMailUnavailable);
    if (status > 499)
        return QString::fromUtf8(kServerUnavailable);
    return QString::fromUtf8(kFailedCheckInput);
}

QString authEntryErrorOverride(const QString &path, int status)
{
    const QString key = normalizedApiRequestPath(path);
    if (key == QLatin1String("api/v1/auth/login") && (status == 400 || status == 401 || status == 403))
        return QStringLiteral("用户名或密码错误");

    static const QStringList entryPaths{
        QStringLiteral("api/v1/auth/login"),          QStringLiteral("api/v1/auth/register"),
        QStringLiteral("api/v1/auth/reset-password"), QStringLiteral("api/v1/auth/code"),
        QStringLiteral("api/v1/auth/send-code"),      QStringLiteral("api/v1/auth/verify-code"),
    };
    if (status == 401 && entryPaths.contains(key))
        return QString::fromUtf8(kFailedTryLater);
    return QString();
}

bool shouldForceLogout(int status, const QString &errorText, bool sentWithToken, bool signedIn)
{
    if (!sentWithToken || !signedIn)
        return false;
    if (status == 401)
        return true;

    const QString lower = errorText.trimmed().toLower();
    static const QStringList sessionKeys{
        QStringLiteral("invalid token"),
        QStringLiteral("expired token"),
        QStringLiteral("token expired"),
        QStringLiteral("session expired"),
        QStringLiteral("session user missing"),
        QStringLiteral("unauthorized"),
        QStringLiteral("authentication required"),
        QStringLiteral("bearer token"),
        QStringLiteral("jwt"),
        QStringLiteral("登录状态已失效"), // i18n-exempt: matched against the server's text
    };
    for (const QString &key : sessionKeys) {
        if (lower.contains(key))
            return true;
    }

    if (status == 403) {
        return lower.contains(QLatin1String("token")) || lower.contains(QLatin1String("session"))
               || lower.contains(QLatin1String("auth"));
    }
    return false;
}

QString loadingMessageForPath(const QString &path)
{
    const QString lower = path.trimmed().toLower();
    for (const LoadingRow &row : kLoadingRows) {
        for (const char *needle : row.needles) {
            if (needle && lower.contains(QLatin1String(needle)))
                return QString::fromUtf8(row.text);
        }
        if (row.suffix && lower.endsWith(QLatin1String(row.suffix)))
            return QString::fromUtf8(row.text);
    }
    return QString::fromUtf8(kDefaultLoadingText);
}

} // namespace Api
