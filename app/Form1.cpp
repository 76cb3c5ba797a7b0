#include "Form1.h"

#include "MessageBoxes.h"

namespace tova {

namespace {
constexpr short kFirstModemPort = 3;
constexpr short kLastModemPort = 9;
} // namespace

Form1::Form1()
{
    setWindowTitle(QStringLiteral("TOVA电话录音系统V2.0"));
}

void Form1::Form_Load()
{
    // The first port that opens is taken as the modem's: nothing is sent to find out.
    for (short port = kFirstModemPort; port <= kLastModemPort; ++port) {
        MSComm1.setCommPort(port);
        try {
            MSComm1.setPortOpen(true);
        } catch (const SerialPortError&) {
        }
        if (MSComm1.PortOpen())
            return;
    }
    MsgBox(QStringLiteral("你没有安装好MODEM卡,或COM口没有设置在正确的COM上,软件不能正常使用!"));
}

void Form1::Form_Unload(short&) { MSComm1.setPortOpen(false); }

} // namespace tova
