#include "api/apierrors.h"
#include "api/apirequest.h"

#include <QtTest>

class ApiErrorsTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void friendlyErrorMessage_data();
    void friendlyErrorMessage();
    void authEntryErrorOverride_data();
    void authEntryErrorOverride();
    void shouldForceLogout_data();
    void shouldForceLogout();
    void loadingMessageForPath_data();
    void loadingMessageForPath();
    void normalizeApiBaseUrl_data();
    void normalizeApiBaseUrl();
    void normalizedApiRequestPath_data();
    void normalizedApiRequestPath();
};

void ApiErrorsTest::friendlyErrorMessage_data()
{
    QTest::addColumn<QString>("errorText");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("expected");

    // Every key of the table, embedded in a server sentence in mixed case.
    const struct
    {
        const char *key;
        const char *message;
    } keys[] = {
        {"Invalid Credentials", "用户名或密码错误"},
        {"VALID EMAIL IS REQUIRED", "请输入有效的邮箱地址。"},
        {"Email verification is required", "请先完成邮箱验证码验证。"},
        {"email already exists", "该邮箱已注册，请直接登录或更换邮箱。"},
        {"verification code resend too frequently", "验证码发送过于频繁，请 60 秒后再试。"},
        {"valid email verification code is required", "验证码无效或已过期，请重新获取。"},
        {"invalid or expired verification code", "验证码无效或已过期，请重新获取。"},
        {"email does not exist", "该邮箱尚未注册，请检查邮箱或先创建账号。"},
        {"current password is incorrect", "当前密码不正确，请重新输入。"},
        {"New Password must be at least 8 characters", "新密码至少需要 8 位。"},
        {"password must be at least 8 characters", "密码至少需要 8 位。"},
        {"account disabled", "您的账号已被封禁，请联系客服。"},
        {"account banned", "您的账号已被封禁，请联系客服。"},
        {"account suspended", "您的账号已被封禁，请联系客服。"},
        {"user disabled", "您的账号已被封禁，请联系客服。"},
        {"device limit exceeded", "设备额度已满，系统会自动下线最早登录的设备，请重新登录。"},
        {"invalid token", "登录状态已失效，请重新登录。"},
        {"session expired", "登录状态已失效，请重新登录。"},
        {"session user missing", "登录状态已失效，请重新登录。"},
        {"node not found", "节点不存在或已下架，请选择其他节点。"},
        {"plan not found", "套餐不存在或已下架，请刷新后重试。"},
        {"order_id is required", "订单信息缺失，请重新发起支付。"},
        {"order not found", "未找到该订单，请刷新订单列表后重试。"},
        {"pending order exists", "您还有未支付订单，请先继续支付或取消后再下单。"},
        {"order already paid", "该订单已完成支付，无需重复操作。"},
        {"order already canceled", "该订单已取消，请重新创建新订单。"},
        {"order already cancelled", "该订单已取消，请重新创建新订单。"},
        {"trial already claimed today", "您今天已领取，请明天再来。"},
        {"trial is disabled", "今日体验会员暂不可领取。"},
        {"trial disabled", "今日体验会员暂不可领取。"},
        {"trial unavailable for paid member", "付费会员无需领取体验会员。"},
        {"paid order cannot be canceled", "已支付订单不能取消。"},
        {"device_id is required", "设备信息缺失，无法执行下线操作。"},
        {"cannot revoke current device", "不能下线当前正在使用的设备。"},
        {"device session not found", "目标设备已不在线，请刷新设备列表后重试。"},
        {"subject and message are required", "请输入消息内容，或先添加图片/视频。"},
        {"ticket not found", "未找到该在线客服会话，请刷新后重试。"},
        {"user not found", "账号不存在或已被删除，请联系管理员。"},
        {"Host not found", "无法连接服务器，请检查网络或服务器地址。"},
        {"Temporary failure in name resolution", "无法连接服务器，请检查网络或服务器地址。"},
        {"Connection refused", "服务器暂时无法连接，请稍后重试。"},
        {"Operation timed out", "请求超时，请检查网络后重试。"},
        {"socket timeout", "请求超时，请检查网络后重试。"},
        {"SSL handshake failed", "安全连接失败，请检查系统时间、证书或网络代理设置。"},
        {"TLS alert", "安全连接失败，请检查系统时间、证书或网络代理设置。"},
        {"Method Not Allowed", "请求方式不正确，请刷新后重试。"},
        {"at least one node is required", "至少需要保留一个节点。"},
        {"node id and name are required", "节点 ID 和名称不能为空。"},
        {"at least one plan is required", "至少需要保留一个套餐。"},
        {"plan id and name are required", "套餐 ID 和名称不能为空。"},
        {"announcement title and body are required", "公告标题和内容不能为空。"},
    };
    for (const auto &row : keys) {
        QTest::addRow("key: %s", row.key) << QStringLiteral("error: %1 (server)").arg(QLatin1String(row.key)) << 400
                                          << QString::fromUtf8(row.message);
    }

    // Order of the table.
    QTest::newRow("timed out before ssl") << QStringLiteral("SSL read timed out") << 0
                                          << QStringLiteral("请求超时，请检查网络后重试。");
    QTest::newRow("new password before password") << QStringLiteral("new password must be at least 8 characters")
                                                  << 400 << QStringLiteral("新密码至少需要 8 位。");
    QTest::newRow("password alone") << QStringLiteral("Password must be at least 8 characters") << 400
                                    << QStringLiteral("密码至少需要 8 位。");
    QTest::newRow("first of several keys wins") << QStringLiteral("user not found; node not found") << 404
                                                << QStringLiteral("节点不存在或已下架，请选择其他节点。");
    QTest::newRow("key wins over status") << QStringLiteral("invalid credentials") << 503
                                          << QStringLiteral("用户名或密码错误");

    // Chinese server texts.
    QTest::newRow("chinese without its control characters")
        << QStringLiteral("服务\x11维护中\r\n请稍候\x7f\x1b[2J") << 503 << QStringLiteral("服务维护中\n请稍候[2J");
    QTest::newRow("chinese passes through trimmed") << QStringLiteral("  服务维护中，请稍候  ") << 503
                                                    << QStringLiteral("服务维护中，请稍候");
    QTest::newRow("chinese still matches english key") << QStringLiteral("节点错误: node not found") << 400
                                                       << QStringLiteral("节点不存在或已下架，请选择其他节点。");
    QTest::newRow("japanese kana is not chinese") << QStringLiteral("エラー") << 400
                                                  << QStringLiteral("操作失败，请检查输入后重试。");

    // Empty text: by status.
    QTest::newRow("empty 401") << QString() << 401 << QStringLiteral("登录状态已失效，请重新登录。");
    QTest::newRow("empty 404") << QStringLiteral("   ") << 404 << QStringLiteral("请求的资源不存在，请刷新后重试。");
    QTest::newRow("empty 502") << QString() << 502 << QStringLiteral("邮件服务暂时不可用，请稍后重试。");
    QTest::newRow("empty 503") << QString() << 503 << QStringLiteral("服务器暂时不可用，请稍后再试。");
    QTest::newRow("empty 500") << QString() << 500 << QStringLiteral("服务器暂时不可用，请稍后再试。");
    QTest::newRow("empty 400") << QString() << 400 << QStringLiteral("操作失败，请稍后重试。");
    QTest::newRow("empty 0") << QString() << 0 << QStringLiteral("操作失败，请稍后重试。");

    // English text matching no key: by status.
    QTest::newRow("unknown 401 unauthorized") << QStringLiteral("Unauthorized") << 401
                                              << QStringLiteral("登录状态已失效，请重新登录。");
    QTest::newRow("unknown 401 other") << QStringLiteral("bad signature") << 401
                                       << QStringLiteral("操作失败，请检查输入后重试。");
    QTest::newRow("unknown 404") << QStringLiteral("no such thing") << 404
                                 << QStringLiteral("请求的资源不存在，请刷新后重试。");
    QTest::newRow("unknown 502") << QStringLiteral("bad gateway") << 502
                                 << QStringLiteral("邮件服务暂时不可用，请稍后重试。");
    QTest::newRow("unknown 503") << QStringLiteral("service unavailable") << 503
                                 << QStringLiteral("服务器暂时不可用，请稍后再试。");
    QTest::newRow("unknown 400") << QStringLiteral("something odd") << 400
                                 << QStringLiteral("操作失败，请检查输入后重试。");
    QTest::newRow("unknown 0") << QStringLiteral("Network unreachable") << 0
                               << QStringLiteral("操作失败，请检查输入后重试。");
}

void ApiErrorsTest::friendlyErrorMessage()
{
    QFETCH(QString, errorText);
    QFETCH(int, status);
    QFETCH(QString, expected);
    QCOMPARE(Api::friendlyErrorMessage(errorText, status), expected);
}

void ApiErrorsTest::authEntryErrorOverride_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("expected");

    const QString wrongPassword = QStringLiteral("用户名或密码错误");
    const QString tryLater = QStringLiteral("操作失败，请稍后重试。");
    QTest::newRow("login 400") << QStringLiteral("/api/v1/auth/login") << 400 << wrongPassword;
    QTest::newRow("login 401") << QStringLiteral("/api/v1/auth/login") << 401 << wrongPassword;
    QTest::newRow("login 403") << QStringLiteral("/api/v1/auth/login") << 403 << wrongPassword;
    QTest::newRow("login with query") << QStringLiteral("/api/v1/auth/login?x=1") << 401 << wrongPassword;
    QTest::newRow("login trailing slash") << QStringLiteral(" /api/v1/auth/login/ ") << 401 << wrongPassword;
    QTest::newRow("login 500") << QStringLiteral("/api/v1/auth/login") << 500 << QString();
    QTest::newRow("register 401") << QStringLiteral("/api/v1/auth/register") << 401 << tryLater;
    QTest::newRow("reset 401") << QStringLiteral("/api/v1/auth/reset-password") << 401 << tryLater;
    QTest::newRow("code 401") << QStringLiteral("/api/v1/auth/code") << 401 << tryLater;
    QTest::newRow("send-code 401") << QStringLiteral("/api/v1/auth/send-code?purpose=login") << 401 << tryLater;
    QTest::newRow("verify-code 401") << QStringLiteral("/api/v1/auth/verify-code") << 401 << tryLater;
    QTest::newRow("register 403") << QStringLiteral("/api/v1/auth/register") << 403 << QString();
    QTest::newRow("logout 401") << QStringLiteral("/api/v1/auth/logout") << 401 << QString();
    QTest::newRow("bootstrap 401") << QStringLiteral("/api/v1/bootstrap") << 401 << QString();
    QTest::newRow("login prefix only") << QStringLiteral("/api/v1/auth/login-extra") << 401 << QString();
}

void ApiErrorsTest::authEntryErrorOverride()
{
    QFETCH(QString, path);
    QFETCH(int, status);
    QFETCH(QString, expected);
    QCOMPARE(Api::authEntryErrorOverride(path, status), expected);
}

void ApiErrorsTest::shouldForceLogout_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("errorText");
    QTest::addColumn<bool>("sentWithToken");
    QTest::addColumn<bool>("signedIn");
    QTest::addColumn<bool>("expected");

    QTest::newRow("401") << 401 << QString() << true << true << true;
    QTest::newRow("401 without token") << 401 << QStringLiteral("invalid token") << false << true << false;
    QTest::newRow("401 signed out") << 401 << QStringLiteral("invalid token") << true << false << false;
    QTest::newRow("403 token") << 403 << QStringLiteral("Token revoked") << true << true << true;
    QTest::newRow("403 session") << 403 << QStringLiteral("session ended") << true << true << true;
    QTest::newRow("403 auth") << 403 << QStringLiteral("not authorised") << true << true << true;
    QTest::newRow("403 membership") << 403 << QStringLiteral("membership required") << true << true << false;
    QTest::newRow("403 token without token") << 403 << QStringLiteral("token revoked") << false << true << false;
    QTest::newRow("400 token alone") << 400 << QStringLiteral("token format") << true << true << false;
    QTest::newRow("200 expired token") << 200 << QStringLiteral("Expired token") << true << true << true;
    QTest::newRow("500 token expired") << 500 << QStringLiteral("token expired") << true << true << true;
    QTest::newRow("session expired") << 400 << QStringLiteral("Session expired") << true << true << true;
    QTest::newRow("session user missing") << 400 << QStringLiteral("session user missing") << true << true << true;
    QTest::newRow("unauthorized") << 0 << QStringLiteral("UNAUTHORIZED") << true << true << true;
    QTest::newRow("authentication required") << 400 << QStringLiteral("authentication required") << true << true
                                             << true;
    QTest::newRow("bearer token") << 400 << QStringLiteral("missing bearer token") << true << true << true;
    QTest::newRow("jwt") << 400 << QStringLiteral("JWT malformed") << true << true << true;
    QTest::newRow("chinese session text") << 400 << QStringLiteral("登录状态已失效") << true << true << true;
    QTest::newRow("invalid token") << 400 << QStringLiteral(" invalid token ") << true << true << true;
    QTest::newRow("ordinary failure") << 400 << QStringLiteral("plan not found") << true << true << false;
    QTest::newRow("decryption failure") << 0 << QStringLiteral("岚舟服务加密响应校验失败，请重新登录后重试。") << true
                                        << true << false;
}

void ApiErrorsTest::shouldForceLogout()
{
    QFETCH(int, status);
    QFETCH(QString, errorText);
    QFETCH(bool, sentWithToken);
    QFETCH(bool, signedIn);
    QFETCH(bool, expected);
    QCOMPARE(Api::shouldForceLogout(status, errorText, sentWithToken, signedIn), expected);
}

void ApiErrorsTest::loadingMessageForPath_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expected");

    QTest::newRow("support chat") << QStringLiteral("/api/v1/support/chat") << QStringLiteral("正在同步聊天记录...");
    QTest::newRow("messages read") << QStringLiteral("/api/v1/messages/read") << QStringLiteral("正在同步消息状态...");
    QTest::newRow("messages") << QStringLiteral("/api/v1/messages") << QStringLiteral("正在加载消息内容...");
    QTest::newRow("support media") << QStringLiteral("/api/v1/support/media") << QStringLiteral("正在上传客服附件...");
    QTest::newRow("support read") << QStringLiteral("/api/v1/support/read") << QStringLiteral("正在同步客服状态...");
    QTest::newRow("devices revoke") << QStringLiteral("/api/v1/devices/revoke")
                                    << QStringLiteral("正在更新设备状态...");
    QTest::newRow("devices") << QStringLiteral("/api/v1/devices") << QStringLiteral("正在同步设备信息...");
    QTest::newRow("invite") << QStringLiteral("/api/v1/invite") << QStringLiteral("正在同步邀请数据...");
    QTest::newRow("billing") << QStringLiteral("/api/v1/billing") << QStringLiteral("正在同步账单数据...");
    QTest::newRow("orders") << QStringLiteral("/api/v1/orders") << QStringLiteral("正在同步订单状态...");
    QTest::newRow("orders cancel shows orders") << QStringLiteral("/api/v1/orders/cancel")
                                                << QStringLiteral("正在同步订单状态...");
    QTest::newRow("other orders suffix") << QStringLiteral("/api/v2/orders") << QStringLiteral("正在同步订单状态...");
    QTest::newRow("cancel elsewhere") << QStringLiteral("/api/v2/orders/cancel") << QStringLiteral("正在取消订单...");
    QTest::newRow("payments checkout") << QStringLiteral("/api/v1/payments/checkout")
                                       << QStringLiteral("正在处理支付订单...");
    QTest::newRow("plans checkout") << QStringLiteral("/api/v1/plans/checkout")
                                    << QStringLiteral("正在处理支付订单...");
    QTest::newRow("payments confirm") << QStringLiteral("/api/v1/payments/confirm")
                                      << QStringLiteral("正在确认支付结果...");
    QTest::newRow("speedtest") << QStringLiteral("/api/v1/speedtest") << QStringLiteral("正在执行测速...");
    QTest::newRow("bootstrap") << QStringLiteral("/api/v1/bootstrap") << QStringLiteral("正在同步账户与节点信息...");
    QTest::newRow("experience") << QStringLiteral("/api/v1/experience/profile")
                                << QStringLiteral("正在同步页面数据...");
    QTest::newRow("config") << QStringLiteral("/api/v1/config/singbox?platform=linux")
                            << QStringLiteral("正在拉取节点配置...");
    QTest::newRow("auth") << QStringLiteral("/api/v1/auth/login") << QStringLiteral("正在处理账号请求...");
    QTest::newRow("preferences") << QStringLiteral("/api/v1/preferences") << QStringLiteral("正在保存偏好设置...");
    QTest::newRow("anything else") << QStringLiteral("/api/v1/trial/claim") << QStringLiteral("正在处理中...");
    QTest::newRow("upper case and blanks") << QStringLiteral("  /API/V1/BOOTSTRAP  ")
                                           << QStringLiteral("正在同步账户与节点信息...");
    QTest::newRow("empty") << QString() << QStringLiteral("正在处理中...");
}

void ApiErrorsTest::loadingMessageForPath()
{
    QFETCH(QString, path);
    QFETCH(QString, expected);
    QCOMPARE(Api::loadingMessageForPath(path), expected);
}

void ApiErrorsTest::normalizeApiBaseUrl_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("expected");

    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("blank") << QStringLiteral("   ") << QString();
    QTest::newRow("host without scheme, trailing slash") << QStringLiteral(" api.example.com/tarn-api/ ")
                                                         << QStringLiteral("https://api.example.com/tarn-api");
    QTest::newRow("several trailing slashes") << QStringLiteral("http://127.0.0.1:8080///")
                                              << QStringLiteral("http://127.0.0.1:8080");
    QTest::newRow("scheme alone") << QStringLiteral("https://") << QString();
    QTest::newRow("kept as given") << QStringLiteral("https://api.quillet.invalid/tarn-api")
                                   << QStringLiteral("https://api.quillet.invalid/tarn-api");
    QTest::newRow("scheme in capitals") << QStringLiteral("HTTPS://api.example.com/")
                                        << QStringLiteral("https://api.example.com");
    QTest::newRow("mixed-case http to loopback") << QStringLiteral("Http://127.0.0.1:8080/x")
                                                 << QStringLiteral("http://127.0.0.1:8080/x");
    QTest::newRow("ftp") << QStringLiteral("ftp://api.example.com") << QString();
    QTest::newRow("ftp in capitals") << QStringLiteral("FTP://api.example.com") << QString();
    QTest::newRow("colon missing: host would be the scheme word") << QStringLiteral("https//api.example.com")
                                                                   << QString();
    QTest::newRow("query dropped") << QStringLiteral("https://api.example.com/tarn-api?x=1")
                                   << QStringLiteral("https://api.example.com/tarn-api");
    QTest::newRow("fragment dropped") << QStringLiteral("https://api.example.com/#top")
                                      << QStringLiteral("https://api.example.com");
    QTest::newRow("http to a remote host") << QStringLiteral("http://api.example.com") << QString();
    QTest::newRow("http to localhost") << QStringLiteral("http://localhost:8080")
                                       << QStringLiteral("http://localhost:8080");
    QTest::newRow("http to a private address") << QStringLiteral("http://192.168.1.20/api")
                                               << QStringLiteral("http://192.168.1.20/api");
    QTest::newRow("http to a public address") << QStringLiteral("http://203.0.113.5") << QString();
}

void ApiErrorsTest::normalizeApiBaseUrl()
{
    QFETCH(QString, input);
    QFETCH(QString, expected);
    QCOMPARE(Api::normalizeApiBaseUrl(input), expected);
}

void ApiErrorsTest::normalizedApiRequestPath_data()
{
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("expected");

    QTest::newRow("plain") << QStringLiteral("/api/v1/auth/login") << QStringLiteral("api/v1/auth/login");
    QTest::newRow("query") << QStringLiteral("/api/v1/auth/login?next=/a/b") << QStringLiteral("api/v1/auth/login");
    QTest::newRow("slashes and blanks") << QStringLiteral("  //api/v1/nodes//  ") << QStringLiteral("api/v1/nodes");
    QTest::newRow("only query") << QStringLiteral("?a=1") << QString();
    QTest::newRow("empty") << QString() << QString();
}

void ApiErrorsTest::normalizedApiRequestPath()
{
    QFETCH(QString, input);
    QFETCH(QString, expected);
    QCOMPARE(Api::normalizedApiRequestPath(input), expected);
}

QTEST_APPLESS_MAIN(ApiErrorsTest)
#include "tst_apierrors.moc"
