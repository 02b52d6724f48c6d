<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN" sourcelanguage="en_US">
<context>
    <name>CommandLine</name>
    <message>
        <source>Unexpected argument &apos;%1&apos;.</source>
        <translation>多余的参数“%1”。</translation>
    </message>
    <message>
        <source>Give one command at a time.</source>
        <translation>一次只能给出一个命令。</translation>
    </message>
    <message>
        <source>--wait goes with --connect or --disconnect.</source>
        <translation>--wait 只能与 --connect 或 --disconnect 一起使用。</translation>
    </message>
    <message>
        <source>--otp-stdin goes with --connect.</source>
        <translation>--otp-stdin 只能与 --connect 一起使用。</translation>
    </message>
    <message>
        <source>--json goes with --status.</source>
        <translation>--json 只能与 --status 一起使用。</translation>
    </message>
    <message>
        <source>Give one profile to --connect.</source>
        <translation>--connect 只能给出一个配置。</translation>
    </message>
    <message>
        <source>--connect needs the name of a profile.</source>
        <translation>--connect 需要配置的名称。</translation>
    </message>
    <message>
        <source>The profile name is too long.</source>
        <translation>配置名称过长。</translation>
    </message>
    <message>
        <source>Usage: %1 [command]</source>
        <translation>用法：%1 [命令]</translation>
    </message>
    <message>
        <source>Without a command the client opens, or the running one comes to the front.</source>
        <translation>不带命令时打开客户端，或将正在运行的客户端窗口显示到最前。</translation>
    </message>
    <message>
        <source>A command goes to the client that runs for this user.</source>
        <translation>命令发送给当前用户正在运行的客户端。</translation>
    </message>
    <message>
        <source>Commands:</source>
        <translation>命令：</translation>
    </message>
    <message>
        <source>Connect with the profile. When the client is not running, it starts and connects.</source>
        <translation>使用该配置连接。客户端未运行时，先启动客户端再连接。</translation>
    </message>
    <message>
        <source>End the session.</source>
        <translation>断开当前会话。</translation>
    </message>
    <message>
        <source>Show the session: state, profile, gateway, VPN address, since when, bytes sent and received.</source>
        <translation>显示会话：状态、配置、网关、VPN 地址、连接时间、发送和接收字节。</translation>
    </message>
    <message>
        <source>List the profiles, one name a line.</source>
        <translation>列出所有配置，每行一个名称。</translation>
    </message>
    <message>
        <source>Bring the window to the front.</source>
        <translation>将窗口显示到最前。</translation>
    </message>
    <message>
        <source>Quit the client (a session that is up is disconnected first).</source>
        <translation>退出客户端（已连接的会话会先断开）。</translation>
    </message>
    <message>
        <source>Show this help.</source>
        <translation>显示本帮助。</translation>
    </message>
    <message>
        <source>Show the version.</source>
        <translation>显示版本。</translation>
    </message>
    <message>
        <source>Options:</source>
        <translation>选项：</translation>
    </message>
    <message>
        <source>Read the one-time password from standard input, or ask for it without echo on a terminal. It never goes on the command line.</source>
        <translation>从标准输入读取一次性密码；在终端中则不回显地提示输入。一次性密码从不出现在命令行中。</translation>
    </message>
    <message>
        <source>Wait for the outcome, at most 60 seconds: the VPN address once connected, or the agent&apos;s message when it refuses.</source>
        <translation>等待结果，最多 60 秒：连接成功时输出 VPN 地址，被拒绝时输出代理的消息。</translation>
    </message>
    <message>
        <source>Print the status as one JSON object.</source>
        <translation>以一个 JSON 对象输出状态。</translation>
    </message>
    <message>
        <source>Exit status:</source>
        <translation>退出状态：</translation>
    </message>
    <message>
        <source>done</source>
        <translation>完成</translation>
    </message>
    <message>
        <source>refused or failed</source>
        <translation>被拒绝或失败</translation>
    </message>
    <message>
        <source>usage error</source>
        <translation>用法错误</translation>
    </message>
    <message>
        <source>the client is not running</source>
        <translation>客户端未运行</translation>
    </message>
    <message>
        <source>timed out</source>
        <translation>超时</translation>
    </message>
    <message>
        <source>Try &apos;%1 --help&apos; for more information.</source>
        <translation>运行“%1 --help”查看更多信息。</translation>
    </message>
    <message>
        <source>One-time password: </source>
        <translation>一次性密码：</translation>
    </message>
    <message>
        <source>No one-time password was read from standard input.</source>
        <translation>未能从标准输入读到一次性密码。</translation>
    </message>
</context>
<context>
    <name>CommandOutput</name>
    <message>
        <source>Kestrum SSLVPN Client is not running.</source>
        <translation>Kestrum SSLVPN 客户端未运行。</translation>
    </message>
    <message>
        <source>The running client does not answer.</source>
        <translation>正在运行的客户端没有响应。</translation>
    </message>
    <message>
        <source>The running client did not take the command; it may be an older version. Quit it and start it again.</source>
        <translation>正在运行的客户端未接受该命令，可能是旧版本。请退出后重新启动。</translation>
    </message>
    <message>
        <source>The client ended before the outcome was known.</source>
        <translation>客户端在得到结果之前已退出。</translation>
    </message>
    <message>
        <source>No outcome within 60 seconds.</source>
        <translation>60 秒内没有结果。</translation>
    </message>
    <message>
        <source>The running client did not answer in time.</source>
        <translation>正在运行的客户端未能及时响应。</translation>
    </message>
    <message>
        <source>The running client&apos;s answer was not understood.</source>
        <translation>无法理解正在运行的客户端的回复。</translation>
    </message>
    <message>
        <source>The running client did not understand the command.</source>
        <translation>正在运行的客户端无法理解该命令。</translation>
    </message>
    <message>
        <source>State: %1</source>
        <translation>状态：%1</translation>
    </message>
    <message>
        <source>Profile: %1</source>
        <translation>配置：%1</translation>
    </message>
    <message>
        <source>Gateway: %1</source>
        <translation>网关：%1</translation>
    </message>
    <message>
        <source>VPN address: %1</source>
        <translation>VPN 地址：%1</translation>
    </message>
    <message>
        <source>Since: %1</source>
        <translation>连接时间：%1</translation>
    </message>
    <message>
        <source>Bytes sent: %1</source>
        <translation>发送字节：%1</translation>
    </message>
    <message>
        <source>Bytes received: %1</source>
        <translation>接收字节：%1</translation>
    </message>
    <message>
        <source>Not connected</source>
        <translation>未连接</translation>
    </message>
    <message>
        <source>Connecting</source>
        <translation>正在连接</translation>
    </message>
    <message>
        <source>Connected</source>
        <translation>已连接</translation>
    </message>
    <message>
        <source>Disconnecting</source>
        <translation>正在断开</translation>
    </message>
    <message>
        <source>Agent unreachable</source>
        <translation>无法连接到 tunwarden</translation>
    </message>
    <message>
        <source>The agent (tunwarden) cannot be reached.</source>
        <translation>无法连接到代理（tunwarden）。</translation>
    </message>
    <message>
        <source>There is no profile named &apos;%1&apos;.</source>
        <translation>没有名为“%1”的配置。</translation>
    </message>
    <message>
        <source>A session is already up.</source>
        <translation>已有会话处于连接状态。</translation>
    </message>
    <message>
        <source>A session is already up with the profile &apos;%1&apos;.</source>
        <translation>配置“%1”的会话已处于连接状态。</translation>
    </message>
    <message>
        <source>No session is up.</source>
        <translation>当前没有已连接的会话。</translation>
    </message>
    <message>
        <source>A connection or disconnection is under way.</source>
        <translation>正在连接或断开，请稍候。</translation>
    </message>
    <message>
        <source>The agent refused the connection.</source>
        <translation>代理拒绝了连接。</translation>
    </message>
    <message>
        <source>The attempt ended without a session.</source>
        <translation>连接尝试已结束，未能建立会话。</translation>
    </message>
    <message>
        <source>The password prompt was cancelled; nothing was sent.</source>
        <translation>已取消输入密码，未发送任何内容。</translation>
    </message>
    <message>
        <source>The running client refused the command.</source>
        <translation>正在运行的客户端拒绝了该命令。</translation>
    </message>
</context>
<context>
    <name>ConfigManager</name>
    <message>
        <source>Couldn&apos;t open config file</source>
        <translation>未能打开配置文件</translation>
    </message>
</context>
<context>
    <name>ConnectionStatusCard</name>
    <message>
        <source>Not connected</source>
        <translation>未连接</translation>
    </message>
    <message>
        <source>Connecting</source>
        <translation>正在连接</translation>
    </message>
    <message>
        <source>Connected</source>
        <translation>已连接</translation>
    </message>
    <message>
        <source>Connection failed</source>
        <translation>连接失败</translation>
    </message>
    <message>
        <source>State of the VPN connection</source>
        <translation>VPN 连接状态</translation>
    </message>
</context>
<context>
    <name>DesktopNotice</name>
    <message>
        <source>Show</source>
        <translation>显示</translation>
    </message>
</context>
<context>
    <name>DetailDialog</name>
    <message>
        <source>Statistics and Route Details</source>
        <translation>流量统计和路由详情</translation>
    </message>
    <message>
        <source>Statistics</source>
        <translation>统计</translation>
    </message>
    <message>
        <source>Bytes Sent:</source>
        <translation>发送字节：</translation>
    </message>
    <message>
        <source>Bytes Received:</source>
        <translation>接收字节：</translation>
    </message>
    <message>
        <source>Excluded Routes</source>
        <translation>排除路由</translation>
    </message>
    <message>
        <source>Secured Routes</source>
        <translation>安全路由</translation>
    </message>
    <message>
        <source>Destination</source>
        <translation>地址</translation>
    </message>
    <message>
        <source>Prefix</source>
        <translation>前缀</translation>
    </message>
    <message>
        <source>Routes that stay outside the tunnel</source>
        <translation>不经过隧道的路由</translation>
    </message>
    <message>
        <source>Routes carried through the tunnel</source>
        <translation>经隧道传输的路由</translation>
    </message>
</context>
<context>
    <name>HistoryDialog</name>
    <message>
        <source>Connection history</source>
        <translation>连接记录</translation>
    </message>
    <message>
        <source>Time</source>
        <translation>时间</translation>
    </message>
    <message>
        <source>Event</source>
        <translation>事件</translation>
    </message>
    <message>
        <source>Profile and host</source>
        <translation>配置和主机</translation>
    </message>
    <message>
        <source>Duration</source>
        <translation>持续时间</translation>
    </message>
    <message>
        <source>Clear</source>
        <translation>清空</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>关闭</translation>
    </message>
    <message>
        <source>Connect requested</source>
        <translation>请求连接</translation>
    </message>
    <message>
        <source>Connected</source>
        <translation>已连接</translation>
    </message>
    <message>
        <source>Connection refused</source>
        <translation>连接被拒绝</translation>
    </message>
    <message>
        <source>Connection lost</source>
        <translation>连接中断</translation>
    </message>
    <message>
        <source>Reconnecting</source>
        <translation>正在重连</translation>
    </message>
    <message>
        <source>Reconnected</source>
        <translation>已重连</translation>
    </message>
    <message>
        <source>Reconnection refused</source>
        <translation>重连被拒绝</translation>
    </message>
    <message>
        <source>Closed by the server</source>
        <translation>服务器已关闭连接</translation>
    </message>
    <message>
        <source>Disconnected</source>
        <translation>已断开</translation>
    </message>
    <message>
        <source>Agent link lost</source>
        <translation>与代理的连接中断</translation>
    </message>
    <message>
        <source>Agent link restored</source>
        <translation>与代理的连接已恢复</translation>
    </message>
    <message>
        <source>Session taken over</source>
        <translation>已接管运行中的会话</translation>
    </message>
    <message>
        <source>Last 24 hours: sessions %1, connected %2, losses %3</source>
        <translation>最近 24 小时：会话 %1 次，连接时长 %2，中断 %3 次</translation>
    </message>
    <message>
        <source>Clear history</source>
        <translation>清空连接记录</translation>
    </message>
    <message>
        <source>Remove every recorded connection event? This cannot be undone.</source>
        <translation>删除所有连接记录？此操作无法撤销。</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>取消</translation>
    </message>
    <message>
        <source>The history file could not be removed.</source>
        <translation>无法删除连接记录文件。</translation>
    </message>
</context>
<context>
    <name>Orvalin</name>
    <message>
        <source>Sections</source>
        <translation>功能页</translation>
    </message>
    <message>
        <source>Gateway</source>
        <translation>网关</translation>
    </message>
    <message>
        <source>Status</source>
        <translation>状态</translation>
    </message>
    <message>
        <source>Setting</source>
        <translation>设置</translation>
    </message>
    <message>
        <source>About</source>
        <translation>帮助</translation>
    </message>
    <message>
        <source>Host:</source>
        <translation>主机：</translation>
    </message>
    <message>
        <source>OTP:</source>
        <translation>OTP：</translation>
    </message>
    <message>
        <source>One Time Password</source>
        <translation>临时密码</translation>
    </message>
    <message>
        <source>+</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>Channel Type:</source>
        <translation>通道类型：</translation>
    </message>
    <message>
        <source>TLS CipherSuite:</source>
        <translation>TLS 加密套件：</translation>
    </message>
    <message>
        <source>DTLS CipherSuite:</source>
        <translation>DTLS 加密套件：</translation>
    </message>
    <message>
        <source>DTLS Port:</source>
        <translation>DTLS 端口：</translation>
    </message>
    <message>
        <source>Server Address:</source>
        <translation>服务器地址：</translation>
    </message>
    <message>
        <source>Local Address:</source>
        <translation>本地地址：</translation>
    </message>
    <message>
        <source>VPN Address:</source>
        <translation>VPN 地址：</translation>
    </message>
    <message>
        <source>MTU:</source>
        <translation>MTU：</translation>
    </message>
    <message>
        <source>DNS:</source>
        <translation>DNS：</translation>
    </message>
    <message>
        <source>Details</source>
        <translation>详情</translation>
    </message>
    <message>
        <source>Connection logs</source>
        <translation>连接日志</translation>
    </message>
    <message>
        <source>Security tips</source>
        <translation>安全提醒</translation>
    </message>
    <message>
        <source>Connect</source>
        <translation>连接</translation>
    </message>
    <message>
        <source>Disconnect</source>
        <translation>断开</translation>
    </message>
    <message>
        <source>Log Viewer</source>
        <translation>连接日志</translation>
    </message>
    <message>
        <source>Couldn&apos;t open log file</source>
        <translation>未能打开日志文件</translation>
    </message>
    <message>
        <source>Manage profiles</source>
        <translation>管理连接配置</translation>
    </message>
    <message>
        <source>Create, edit or delete connection profiles</source>
        <translation>新建、编辑或删除连接配置</translation>
    </message>
    <message>
        <source>Connection progress</source>
        <translation>连接进度</translation>
    </message>
    <message>
        <source>Turns while the client waits for the agent&apos;s answer</source>
        <translation>等待代理应答时转动</translation>
    </message>
    <message>
        <source>History</source>
        <translation>连接记录</translation>
    </message>
    <message>
        <source>Export diagnostics</source>
        <translation>导出诊断信息</translation>
    </message>
    <message>
        <source>Text files (*.txt)</source>
        <translation>文本文件 (*.txt)</translation>
    </message>
    <message>
        <source>tunwarden identity check failed, please contact your administrator</source>
        <translation>tunwarden 身份校验失败，请联系管理员</translation>
    </message>
    <message numerus="yes">
        <source>(retry in %n s)</source>
        <translation>
            <numerusform>（%n 秒后重试）</numerusform>
        </translation>
    </message>
    <message>
        <source>(retrying…)</source>
        <translation>（正在重试…）</translation>
    </message>
    <message>
        <source>Managed by your administrator: %1</source>
        <translation>由管理员管理：%1</translation>
    </message>
    <message>
        <source>An administrator policy was found but could not be used; the diagnostics report tells why.</source>
        <translation>发现管理员策略，但无法使用；原因见诊断信息。</translation>
    </message>
    <message>
        <source>Greyed settings are set by your administrator.</source>
        <translation>灰色的设置由管理员设定，无法更改。</translation>
    </message>
    <message>
        <source>Administrator policy</source>
        <translation>管理员策略</translation>
    </message>
</context>
<context>
    <name>PasswordPrompt</name>
    <message>
        <source>Password</source>
        <translation>密码</translation>
    </message>
    <message>
        <source>Password for %1:</source>
        <translation>%1 的密码：</translation>
    </message>
    <message>
        <source>Your administrator does not allow passwords to be saved on this computer.</source>
        <translation>管理员不允许在本机保存密码。</translation>
    </message>
</context>
<context>
    <name>Policy</name>
    <message>
        <source>Set by your administrator</source>
        <translation>由管理员设置</translation>
    </message>
</context>
<context>
    <name>ProfileManager</name>
    <message>
        <source>Profile Manager</source>
        <translation>Profile 管理</translation>
    </message>
    <message>
        <source>Name:</source>
        <translation>名称：</translation>
    </message>
    <message>
        <source>Host:</source>
        <translation>主机：</translation>
    </message>
    <message>
        <source>Username:</source>
        <translation>用户名：</translation>
    </message>
    <message>
        <source>Password:</source>
        <translation>密码：</translation>
    </message>
    <message>
        <source>Group:</source>
        <translation>用户组：</translation>
    </message>
    <message>
        <source>Secret:</source>
        <translation type="unfinished"></translation>
    </message>
    <message>
        <source>required</source>
        <translation>必须填写</translation>
    </message>
    <message>
        <source>New</source>
        <translation>新建</translation>
    </message>
    <message>
        <source>Delete</source>
        <translation>删除</translation>
    </message>
    <message>
        <source>Save</source>
        <translation>保存</translation>
    </message>
    <message>
        <source>Couldn&apos;t open profile file</source>
        <translation>未能打开 profile 文件</translation>
    </message>
    <message>
        <source>This software can save passwords in the Keychain of the operating system to avoid plaintext passwords, but you should evaluate whether your usage scenarios allow saving passwords and avoid potential security risks.</source>
        <translation>本软件具有可选的密码保存功能，其中密码将保存在操作系统的密钥串里。用户需评估自己的使用环境是否允许保存密码以及设备丢失可能带来的潜在风险。请务必前往本软件官网 &lt;a href=&quot;https://www.kestrum.example/sslvpn/&quot;&gt;www.kestrum.example&lt;/a&gt; 下载和使用最新版本！</translation>
    </message>
    <message>
        <source>Profiles</source>
        <translation>连接配置</translation>
    </message>
</context>
<context>
    <name>QObject</name>
    <message>
        <source>Error</source>
        <translation>错误</translation>
    </message>
    <message>
        <source>Tips</source>
        <translation>提示</translation>
    </message>
</context>
<context>
    <name>QWidgetTextControl</name>
    <message>
        <source>&amp;Copy</source>
        <translation>复制(&amp;C)</translation>
    </message>
    <message>
        <source>Copy &amp;Link Location</source>
        <translation>复制链接(&amp;L)</translation>
    </message>
    <message>
        <source>Select All</source>
        <translation>全选</translation>
    </message>
</context>
<context>
    <name>SessionNotifier</name>
    <message>
        <source>%1 (VPN address %2)</source>
        <translation>%1（VPN 地址 %2）</translation>
    </message>
    <message>
        <source>VPN connected</source>
        <translation>VPN 已连接</translation>
    </message>
    <message>
        <source>VPN session lost</source>
        <translation>VPN 会话已断开</translation>
    </message>
    <message>
        <source>Reconnecting to %1…</source>
        <translation>正在重新连接 %1…</translation>
    </message>
    <message>
        <source>VPN reconnected</source>
        <translation>VPN 已重新连接</translation>
    </message>
    <message>
        <source>Reconnection refused</source>
        <translation>重新连接被拒绝</translation>
    </message>
    <message>
        <source>Starting a new connection to %1…</source>
        <translation>正在重新发起到 %1 的连接…</translation>
    </message>
    <message>
        <source>VPN connection refused</source>
        <translation>VPN 连接被拒绝</translation>
    </message>
    <message>
        <source>VPN session ended by the server</source>
        <translation>服务器已结束 VPN 会话</translation>
    </message>
    <message>
        <source>tunwarden unreachable</source>
        <translation>无法连接到 tunwarden</translation>
    </message>
    <message>
        <source>The VPN service does not answer; trying again.</source>
        <translation>VPN 服务无响应，正在重试。</translation>
    </message>
    <message>
        <source>tunwarden is back</source>
        <translation>tunwarden 已恢复</translation>
    </message>
    <message>
        <source>The VPN service answers again.</source>
        <translation>VPN 服务已恢复响应。</translation>
    </message>
</context>
<context>
    <name>TrayController</name>
    <message>
        <source>Kestrum SSLVPN Client</source>
        <translation>Kestrum SSLVPN 客户端</translation>
    </message>
</context>
</TS>
