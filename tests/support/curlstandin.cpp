#include "curlstandin.h"

QString curlRecorderScript(const QString &realCurl)
{
    return QStringLiteral("#!/bin/sh\n"
                          "log=\"$(dirname \"$0\")/calls.log\"\n"
                          "prev=\n"
                          "for a in \"$@\"; do\n"
                          "  printf 'arg:%s\\n' \"$a\" >> \"$log\"\n"
                          "  if [ \"$prev\" = \"-K\" ] && [ -f \"$a\" ]; then\n"
                          "    printf 'config-mode:%s\\n' \"$(stat -c %a \"$a\")\" >> \"$log\"\n"
                          "    printf 'config-path:%s\\n' \"$a\" >> \"$log\"\n"
                          "  fi\n"
                          "  prev=\"$a\"\n"
                          "done\n"
                          "exec %1 \"$@\"\n")
        .arg(realCurl);
}
