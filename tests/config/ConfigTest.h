// Shared by the configuration store's tests.
#ifndef TESTS_CONFIG_CONFIGTEST_H
#define TESTS_CONFIG_CONFIGTEST_H

#include <string>

#define TEST_MAC "00:11:22:33:44:55"

// Lines as the INI writer forms them: a key in 30 columns with its value
// quoted in 15, a section name padded to 49.
inline std::string Pad(const std::string &s, size_t sizeWidth)
{
    return s.size() < sizeWidth ? s + std::string(sizeWidth - s.size(), ' ') : s;
}

inline std::string Entry(const std::string &key, const std::string &val)
{
    return Pad(key, 30) + " = \"" + Pad(val, 15) + "\"\n";
}

inline std::string Header(const std::string &name)
{
    return Pad("[" + name + "]", 49) + "\n";
}

// "/etc/app.ini" as a new box with TEST_MAC writes it: "[section]" and
// "key=value" items, each a line of the file.
inline std::string DefaultFile(void)
{
    static const char s_azItems[] =
        "[devattr];devicename=QRX-T4100LNK;deviceid=00:00:00:00:00:00;alias=KVB 001;"
        "[mainattr];audiobitrate=128000;audiocodec=0;audiofreq=48000;audioinput=1;videobitrate=20480;encres=1;"
        "enctype=1;fps=60;height=1080;ratecontrol=1;width=1920;"
        "[subattr];audiobitrate=0;audiocodec=1;audiofreq=0;audioinput=0;videobitrate=1024;encres=0;enctype=1;"
        "fps=60;height=360;ratecontrol=1;width=640;"
        "[netattr];dhcp=1;gateway=169.254.100.1;ip=169.254.86.68;submask=255.255.0.0;httpport=80;"
        "[serialattr];baudrate=115200;databits=8;parity=0;stopbits=1;"
        "[manualattr];edidindex=0;id=0;irvoltage=1;lcdmode=1;ledmode=1;"
        "[miscattr];webpsw=qarzy;webuser=qarzy;dot1x=0;https=0;ports=1;ssh=1;telnet=1;web=1;dot1xpwd=;"
        "hdcpmode=0;telnetport=23;dot1xuser=;streamdbg=0;filedebug=0;btnmode=0;";
    std::string file, item;
    for (const char *psz = s_azItems; *psz != '\0'; psz++) {
        if (*psz != ';') {
            item += *psz;
            continue;
        }
        size_t sizeEq = item.find('=');
        file += item[0] == '[' ? Header(item.substr(1, item.size() - 2))
                               : Entry(item.substr(0, sizeEq), item.substr(sizeEq + 1));
        item.clear();
    }
    return file;
}

#endif
