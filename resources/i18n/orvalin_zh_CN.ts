<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN" sourcelanguage="en_US">
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
    <name>TrayController</name>
    <message>
        <source>Kestrum SSLVPN Client</source>
        <translation>Kestrum SSLVPN 客户端</translation>
    </message>
</context>
</TS>
