#include "devserverwords.h"

#include <QHash>
#include <QList>
#include <QPair>
#include <QRegularExpression>
#include <QStringList>

namespace DevWords {

namespace {

// Columns: source (zh-Hans), zh-Hant, en, ru, fr, ko, ja.
struct Row
{
    const char *text[7];
};

const Row kRows[] = {
    // The inbox
    {{"系统通知", "系統通知", "System notices", "Системные уведомления", "Avis du système", "시스템 알림", "システム通知"}},
    {{"活动优惠", "活動優惠", "Offers", "Акции", "Offres", "이벤트 혜택", "キャンペーン"}},
    {{"账户消息", "帳戶訊息", "Account", "Аккаунт", "Compte", "계정 메시지", "アカウント"}},
    {{"节点维护通知", "節點維護通知", "Server maintenance", "Техническое обслуживание узла", "Maintenance d'un serveur",
      "노드 점검 안내", "ノードのメンテナンス"}},
    {{"东京 2 号节点将于本周六 02:00-04:00 维护，期间会自动切换到同地区的其他节点。",
      "東京 2 號節點將於本週六 02:00-04:00 維護，期間會自動切換到同地區的其他節點。",
      "Tokyo server 2 is under maintenance this Saturday from 02:00 to 04:00; meanwhile you are switched to another "
      "server in the same region automatically.",
      "Узел «Токио 2» будет на обслуживании в эту субботу с 02:00 до 04:00; на это время вы автоматически "
      "переключитесь на другой узел того же региона.",
      "Le serveur Tokyo 2 sera en maintenance ce samedi de 02:00 à 04:00 ; entre-temps, vous passerez "
      "automatiquement sur un autre serveur de la même région.",
      "도쿄 2번 노드는 이번 주 토요일 02:00-04:00에 점검합니다. 점검 중에는 같은 지역의 다른 노드로 자동 전환됩니다.",
      "東京 2 番ノードは今週土曜日 02:00〜04:00 にメンテナンスを行います。その間は同じ地域の別のノードに自動で切り替わります。"}},
    {{"邀请好友得时长", "邀請好友得時長", "Invite friends, get free time", "Пригласите друзей и получите время",
      "Invitez des amis, gagnez du temps", "친구 초대하고 이용 시간 받기", "友だち招待で利用時間をプレゼント"}},
    {{"每邀请一位好友注册并完成首单，双方各得 7 天会员时长。",
      "每邀請一位好友註冊並完成首單，雙方各得 7 天會員時長。",
      "For every friend who signs up and places a first order, you both get 7 days of membership.",
      "За каждого друга, который зарегистрируется и оформит первый заказ, вы оба получите 7 дней подписки.",
      "Pour chaque ami qui s'inscrit et passe une première commande, vous recevez tous les deux 7 jours d'abonnement.",
      "친구가 가입하고 첫 주문을 완료할 때마다 두 사람 모두 7일의 멤버십을 받습니다.",
      "友だちが登録して初回購入を完了するたびに、お二人ともメンバーシップ 7 日分を受け取れます。"}},
    {{"会员到期提醒", "會員到期提醒", "Membership reminder", "Напоминание о подписке", "Rappel d'abonnement",
      "멤버십 만료 알림", "メンバーシップ期限のお知らせ"}},
    {{"会员到期前 3 天会提醒续费，续费后时长自动顺延。", "會員到期前 3 天會提醒續費，續費後時長自動順延。",
      "You are reminded to renew 3 days before your membership ends; a renewal adds to the time you have left.",
      "За 3 дня до окончания подписки мы напомним о продлении; продление добавляется к оставшемуся времени.",
      "Un rappel vous invite à renouveler 3 jours avant la fin de votre abonnement ; le renouvellement s'ajoute au "
      "temps restant.",
      "멤버십 만료 3일 전에 갱신 알림을 보내 드립니다. 갱신하면 남은 기간에 이어서 연장됩니다.",
      "メンバーシップ終了の 3 日前に更新をお知らせします。更新すると残りの期間に追加されます。"}},
    {{"欢迎使用岚舟", "歡迎使用嵐舟", "Welcome to Quillet", "Добро пожаловать в Quillet", "Bienvenue sur Quillet",
      "Quillet에 오신 것을 환영합니다", "嵐舟へようこそ"}},
    {{"账号已就绪。遇到连接问题时，可以在「设置 → 关于」上传诊断日志。",
      "帳號已就緒。遇到連線問題時，可以在「設定 → 關於」上傳診斷日誌。",
      "Your account is ready. If you have trouble connecting, you can upload a diagnostic log under "
      "Settings → About.",
      "Ваш аккаунт готов. Если возникнут проблемы с подключением, загрузите журнал диагностики в разделе "
      "«Настройки → О программе».",
      "Votre compte est prêt. En cas de problème de connexion, vous pouvez envoyer un journal de diagnostic depuis "
      "Réglages → À propos.",
      "계정이 준비되었습니다. 연결에 문제가 있으면 '설정 → 정보'에서 진단 로그를 업로드할 수 있습니다.",
      "アカウントの準備ができました。接続に問題があるときは「設定 → 情報」から診断ログをアップロードできます。"}},
    // The support chat
    {{"你好，这里是岚舟在线客服。请描述你遇到的问题，我们会尽快回复。",
      "你好，這裡是嵐舟線上客服。請描述你遇到的問題，我們會盡快回覆。",
      "Hello, this is Quillet support. Please describe the problem you have and we will reply as soon as we can.",
      "Здравствуйте, это поддержка Quillet. Опишите, пожалуйста, вашу проблему, и мы ответим как можно скорее.",
      "Bonjour, ici l'assistance Quillet. Décrivez votre problème et nous vous répondrons dès que possible.",
      "안녕하세요, Quillet 고객 지원입니다. 겪고 계신 문제를 설명해 주시면 최대한 빨리 답변드리겠습니다.",
      "こんにちは、嵐舟サポートです。お困りの内容をお知らせください。できるだけ早くお返事します。"}},
    {{"已收到：「%1」。客服正在处理，一般会在 5 分钟内回复你。", "已收到：「%1」。客服正在處理，一般會在 5 分鐘內回覆你。",
      "Received: \"%1\". Our support team is on it and usually replies within 5 minutes.",
      "Получено: «%1». Служба поддержки уже занимается вопросом и обычно отвечает в течение 5 минут.",
      "Bien reçu : « %1 ». Notre équipe s'en occupe et répond en général sous 5 minutes.",
      "접수되었습니다: \"%1\". 고객 지원팀이 확인 중이며 보통 5분 안에 답변드립니다.",
      "受け付けました：「%1」。サポートが対応中で、通常 5 分以内にお返事します。"}},
    {{"附件", "附件", "attachment", "вложение", "pièce jointe", "첨부 파일", "添付ファイル"}},
    // Plans (named as the client names their cycles)
    {{"月付", "月付", "Monthly", "Месячный", "Mensuel", "월간 결제", "月額プラン"}},
    {{"季付", "季付", "Quarterly", "Квартальный", "Trimestriel", "분기 결제", "3か月プラン"}},
    {{"年付", "年付", "Yearly", "Годовой", "Annuel", "연간 결제", "年間プラン"}},
    {{"适合轻度多设备使用与日常流媒体场景。", "適合輕度多裝置使用與日常串流媒體場景。",
      "For light use on a few devices and everyday streaming.",
      "Для умеренного использования на нескольких устройствах и повседневного стриминга.",
      "Pour un usage léger sur quelques appareils et le streaming au quotidien.",
      "여러 기기에서 가볍게 쓰고 일상적으로 스트리밍하기에 알맞습니다.",
      "複数の端末での軽めの利用や、日常の動画視聴に向いています。"}},
    {{"适合多设备日常使用与更长周期的稳定加速。", "適合多裝置日常使用與更長週期的穩定加速。",
      "For everyday use on several devices with steady speed over a longer period.",
      "Для ежедневного использования на нескольких устройствах и стабильной скорости на более долгий срок.",
      "Pour un usage quotidien sur plusieurs appareils et une vitesse stable sur une plus longue période.",
      "여러 기기에서 매일 쓰고 더 오랜 기간 안정적인 속도가 필요할 때 알맞습니다.",
      "複数の端末での毎日の利用と、長期間の安定した高速化に向いています。"}},
    {{"适合长期稳定使用、更多设备共享与全年省心续费。", "適合長期穩定使用、更多裝置共享與全年省心續費。",
      "For steady long-term use, sharing with more devices and renewing once a year.",
      "Для стабильной работы в долгосрочной перспективе, большего числа устройств и продления раз в год.",
      "Pour un usage stable sur le long terme, davantage d'appareils partagés et un renouvellement par an.",
      "장기간 안정적으로 쓰고 더 많은 기기와 공유하며 1년에 한 번만 갱신하기에 알맞습니다.",
      "長期間の安定した利用、より多くの端末での共有、年 1 回の更新に向いています。"}},
    {{"%1 台设备", "%1 台裝置", "%1 devices", "Устройств: %1", "%1 appareils", "기기 %1대", "端末 %1 台"}},
    {{"优化线路", "優化線路", "Optimized routes", "Оптимизированные маршруты", "Routes optimisées", "최적화된 경로",
      "最適化された回線"}},
    {{"流媒体优化", "串流媒體優化", "Streaming optimized", "Оптимизация для стриминга", "Optimisé pour le streaming",
      "스트리밍 최적화", "動画配信向けの最適化"}},
    {{"高级分流", "進階分流", "Advanced split routing", "Расширенная раздельная маршрутизация",
      "Routage sélectif avancé", "고급 분할 라우팅", "高度な振り分け"}},
    {{"全球节点可用", "全球節點可用", "Servers worldwide", "Узлы по всему миру", "Serveurs dans le monde entier",
      "전 세계 노드 이용", "世界中のノードを利用可能"}},
    {{"体验会员", "體驗會員", "Trial membership", "Пробный доступ", "Abonnement d'essai", "체험 멤버십",
      "お試し会員"}},
    {{"设备额度已满，新设备登录时将自动下线最早登录的设备。",
      "裝置額度已滿，新裝置登入時將自動登出最早登入的裝置。",
      "Your device allowance is full: when a new device signs in, the device that signed in first is signed out.",
      "Лимит устройств исчерпан: при входе с нового устройства будет отключено устройство, вошедшее первым.",
      "Votre quota d'appareils est atteint : quand un nouvel appareil se connecte, le plus ancien est déconnecté.",
      "기기 한도가 가득 찼습니다. 새 기기로 로그인하면 가장 먼저 로그인한 기기가 로그아웃됩니다.",
      "端末数の上限に達しています。新しい端末でログインすると、最初にログインした端末がログアウトされます。"}},
    // Orders and the checkout page
    {{"待支付", "待付款", "Awaiting payment", "Ожидает оплаты", "En attente de paiement", "결제 대기", "支払い待ち"}},
    {{"已取消", "已取消", "Canceled", "Отменён", "Annulée", "취소됨", "キャンセル済み"}},
    {{"已支付", "已付款", "Paid", "Оплачен", "Payée", "결제 완료", "支払い済み"}},
    {{"岚舟收银台", "嵐舟收銀台", "Quillet checkout", "Оплата Quillet", "Paiement Quillet", "Quillet 결제",
      "嵐舟 お支払い"}},
    {{"订单", "訂單", "Order", "Заказ", "Commande", "주문", "注文"}},
    {{"套餐", "方案", "Plan", "Тариф", "Forfait", "요금제", "プラン"}},
    {{"金额", "金額", "Amount", "Сумма", "Montant", "금액", "金額"}},
    {{"状态", "狀態", "Status", "Статус", "Statut", "상태", "状態"}},
    {{"支付", "付款", "Pay", "Оплатить", "Payer", "결제", "支払う"}},
    {{"取消", "取消", "Cancel", "Отменить", "Annuler", "취소", "キャンセル"}},
    {{"订单不存在", "訂單不存在", "Order not found", "Заказ не найден", "Commande introuvable", "주문을 찾을 수 없음",
      "注文が見つかりません"}},
    {{"该支付链接无效或已过期。", "該付款連結無效或已過期。", "This payment link is invalid or has expired.",
      "Эта ссылка на оплату недействительна или устарела.", "Ce lien de paiement est invalide ou a expiré.",
      "이 결제 링크는 유효하지 않거나 만료되었습니다.", "この支払いリンクは無効か、期限が切れています。"}},
    {{"此订单已处理，可以关闭本页面并返回岚舟。", "此訂單已處理，可以關閉本頁面並返回嵐舟。",
      "This order has been dealt with. You can close this page and return to Quillet.",
      "Этот заказ уже обработан. Можно закрыть страницу и вернуться в Quillet.",
      "Cette commande a été traitée. Vous pouvez fermer cette page et revenir à Quillet.",
      "이 주문은 이미 처리되었습니다. 이 페이지를 닫고 Quillet으로 돌아가셔도 됩니다.",
      "この注文は処理済みです。このページを閉じて嵐舟に戻ってください。"}},
    {{"订单已处理", "訂單已處理", "Order already dealt with", "Заказ уже обработан", "Commande déjà traitée",
      "이미 처리된 주문", "処理済みの注文"}},
    {{"此订单当前状态：%1。", "此訂單目前狀態：%1。", "This order's status: %1.", "Статус заказа: %1.",
      "Statut de cette commande : %1.", "이 주문의 상태: %1.", "この注文の状態：%1。"}},
    {{"支付成功", "付款成功", "Payment complete", "Оплата прошла", "Paiement effectué", "결제 완료", "お支払い完了"}},
    {{"套餐已开通，可以关闭本页面并返回岚舟。", "方案已開通，可以關閉本頁面並返回嵐舟。",
      "Your plan is active. You can close this page and return to Quillet.",
      "Тариф подключён. Можно закрыть страницу и вернуться в Quillet.",
      "Votre forfait est actif. Vous pouvez fermer cette page et revenir à Quillet.",
      "요금제가 활성화되었습니다. 이 페이지를 닫고 Quillet으로 돌아가셔도 됩니다.",
      "プランが有効になりました。このページを閉じて嵐舟に戻ってください。"}},
    {{"订单已取消", "訂單已取消", "Order canceled", "Заказ отменён", "Commande annulée", "주문 취소됨",
      "注文をキャンセルしました"}},
    {{"可以关闭本页面并返回岚舟。", "可以關閉本頁面並返回嵐舟。", "You can close this page and return to Quillet.",
      "Можно закрыть страницу и вернуться в Quillet.", "Vous pouvez fermer cette page et revenir à Quillet.",
      "이 페이지를 닫고 Quillet으로 돌아가셔도 됩니다.", "このページを閉じて嵐舟に戻ってください。"}},
};

const QStringList &columns()
{
    static const QStringList languages{QStringLiteral("zh-Hans"), QStringLiteral("zh-Hant"), QStringLiteral("en"),
                                       QStringLiteral("ru"),      QStringLiteral("fr"),      QStringLiteral("ko"),
                                       QStringLiteral("ja")};
    return languages;
}

} // namespace

QString languageOf(const QByteArray &acceptLanguage)
{
    const QString value = QString::fromLatin1(acceptLanguage).trimmed();
    if (value.isEmpty())
        return QStringLiteral("zh-Hans");
    // The first range is the preferred one; weights after it are not weighed.
    const QString first = value.section(QLatin1Char(','), 0, 0).section(QLatin1Char(';'), 0, 0).trimmed().toLower().replace(
        QLatin1Char('_'), QLatin1Char('-'));
    if (first.startsWith(QLatin1String("zh-hant")) || first.startsWith(QLatin1String("zh-tw"))
        || first.startsWith(QLatin1String("zh-hk")) || first.startsWith(QLatin1String("zh-mo")))
        return QStringLiteral("zh-Hant");
    if (first == QLatin1String("zh") || first.startsWith(QLatin1String("zh-")))
        return QStringLiteral("zh-Hans");
    for (const char *code : {"en", "ru", "fr", "ko", "ja"}) {
        const QLatin1String prefix(code);
        if (first == prefix || first.startsWith(prefix + QLatin1Char('-')))
            return prefix;
    }
    return QStringLiteral("en");
}

QString translated(const QString &language, const QString &source)
{
    static const QHash<QString, const Row *> bySource = [] {
        QHash<QString, const Row *> index;
        for (const Row &row : kRows)
            index.insert(QString::fromUtf8(row.text[0]), &row);
        return index;
    }();
    int column = columns().indexOf(language);
    if (column < 0)
        column = 2;
    if (const Row *row = bySource.value(source))
        return QString::fromUtf8(row->text[column]);
    // A stored text made from a template ("已收到：「%1」。…"): the same template in the
    // language, with what was filled in (itself translated when it is a known word).
    static const QList<QPair<QRegularExpression, const Row *>> templates = [] {
        QList<QPair<QRegularExpression, const Row *>> list;
        for (const Row &row : kRows) {
            const QString text = QString::fromUtf8(row.text[0]);
            const qsizetype at = text.indexOf(QLatin1String("%1"));
            if (at < 0)
                continue;
            const QString pattern = QLatin1Char('^') + QRegularExpression::escape(text.left(at)) + QStringLiteral("(.*)")
                + QRegularExpression::escape(text.mid(at + 2)) + QLatin1Char('$');
            list.append({QRegularExpression(pattern, QRegularExpression::DotMatchesEverythingOption), &row});
        }
        return list;
    }();
    for (const auto &entry : templates) {
        const QRegularExpressionMatch match = entry.first.match(source);
        if (match.hasMatch()) {
            const QString filled = match.captured(1);
            const Row *known = bySource.value(filled);
            return QString::fromUtf8(entry.second->text[column])
                .arg(known ? QString::fromUtf8(known->text[column]) : filled);
        }
    }
    return source;
}

QString htmlLanguage(const QString &language)
{
    if (language == QLatin1String("zh-Hans"))
        return QStringLiteral("zh-CN");
    if (language == QLatin1String("zh-Hant"))
        return QStringLiteral("zh-TW");
    return columns().contains(language) ? language : QStringLiteral("en");
}

} // namespace DevWords
