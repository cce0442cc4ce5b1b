<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="zh_CN">
<context>
    <name>velmars</name>
    <message>
        <source>正在确认：%1</source>
        <translation>Acknowledging: %1</translation>
    </message>
    <message>
        <source>未能确认：%1</source>
        <translation>Not acknowledged: %1</translation>
    </message>
    <message>
        <source>已连接到服务：试验箱由服务记录</source>
        <translation>Attached to the service: it records the chambers</translation>
    </message>
    <message>
        <source>服务已停止，等待其恢复</source>
        <translation>The service has stopped; waiting for it to return</translation>
    </message>
    <message>
        <source>服务拒绝：无此权限</source>
        <translation>refused by the service: not permitted</translation>
    </message>
    <message>
        <source>数值无效</source>
        <translation>invalid value</translation>
    </message>
    <message>
        <source>试验箱未在记录</source>
        <translation>the chamber is not recording</translation>
    </message>
    <message>
        <source>未连接到服务</source>
        <translation>not attached to the service</translation>
    </message>
    <message>
        <source>服务中没有这个试验箱</source>
        <translation>the service has no such chamber</translation>
    </message>
    <message>
        <source>仪表未接受</source>
        <translation>the instrument did not take it</translation>
    </message>
    <message>
        <source>网页：%1</source>
        <translation>Web: %1</translation>
    </message>
    <message>
        <source>报警栏</source>
        <translation>Alert bar</translation>
    </message>
    <message>
        <source>报警列表</source>
        <translation>Alert list</translation>
    </message>
    <message>
        <source>时间</source>
        <translation>Time</translation>
    </message>
    <message>
        <source>报警</source>
        <translation>Alarm</translation>
    </message>
    <message>
        <source>数值</source>
        <translation>Value</translation>
    </message>
    <message>
        <source>状态</source>
        <translation>State</translation>
    </message>
    <message>
        <source>确认说明</source>
        <translation>Acknowledgement note</translation>
    </message>
    <message>
        <source>确认说明：谁、为什么</source>
        <translation>Note: who, and why</translation>
    </message>
    <message>
        <source>确认</source>
        <translation>Acknowledge</translation>
    </message>
    <message>
        <source>确认报警</source>
        <translation>Acknowledge alert</translation>
    </message>
    <message>
        <source>消音</source>
        <translation>Silence</translation>
    </message>
    <message>
        <source>报警通知</source>
        <translation>Alert notification</translation>
    </message>
    <message>
        <source>报警栏提示</source>
        <translation>Alert bar message</translation>
    </message>
    <message>
        <source>报警中</source>
        <translation>In alarm</translation>
    </message>
    <message>
        <source>已恢复</source>
        <translation>Back to normal</translation>
    </message>
    <message>
        <source>，已确认</source>
        <translation>, acknowledged</translation>
    </message>
    <message>
        <source>，未确认</source>
        <translation>, not acknowledged</translation>
    </message>
    <message>
        <source>没有待确认的报警</source>
        <translation>No alert waits for acknowledgement</translation>
    </message>
    <message>
        <source>请填写确认说明</source>
        <translation>Please type an acknowledgement note</translation>
    </message>
    <message>
        <source>已确认：%1</source>
        <translation>Acknowledged: %1</translation>
    </message>
    <message>
        <source>触发：%1，%2</source>
        <translation>Raised: %1, %2</translation>
    </message>
    <message>
        <source>恢复正常：%1</source>
        <translation>Back to normal: %1</translation>
    </message>
    <message>
        <source>升级通知：%1</source>
        <translation>Escalated: %1</translation>
    </message>
    <message>
        <source>再次通知：%1</source>
        <translation>Repeated: %1</translation>
    </message>
    <message>
        <source>已确认：%1，说明：%2</source>
        <translation>Acknowledged: %1, note: %2</translation>
    </message>
    <message>
        <source>发送测试</source>
        <translation>Send test</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>测试结果</source>
        <translation>Test result</translation>
    </message>
    <message>
        <source>测试成功：</source>
        <translation>Test passed: </translation>
    </message>
    <message>
        <source>测试失败：</source>
        <translation>Test failed: </translation>
    </message>
    <message>
        <source>报警规则</source>
        <translation>Alert rules</translation>
    </message>
    <message>
        <source>延时（秒）</source>
        <translation>Delay (s)</translation>
    </message>
    <message>
        <source> 延时</source>
        <translation> delay</translation>
    </message>
    <message>
        <source> 允许偏差</source>
        <translation> allowed deviation</translation>
    </message>
    <message>
        <source> 回差</source>
        <translation> hysteresis</translation>
    </message>
    <message>
        <source>固定上下限</source>
        <translation>Fixed limits</translation>
    </message>
    <message>
        <source> 固定上下限</source>
        <translation> fixed limits</translation>
    </message>
    <message>
        <source>回差</source>
        <translation>Hysteresis</translation>
    </message>
    <message>
        <source>转发滞后上限</source>
        <translation>Forwarding lag limit</translation>
    </message>
    <message>
        <source>转发滞后超过（分钟）</source>
        <translation>Forwarding lag over (min)</translation>
    </message>
    <message>
        <source>通知</source>
        <translation>Notification</translation>
    </message>
    <message>
        <source>邮件服务器</source>
        <translation>Mail server</translation>
    </message>
    <message>
        <source>smtp://用户@主机:端口</source>
        <translation>smtp://user@host:port</translation>
    </message>
    <message>
        <source>邮件密码</source>
        <translation>Mail password</translation>
    </message>
    <message>
        <source>发件人</source>
        <translation>Sender</translation>
    </message>
    <message>
        <source>收件人</source>
        <translation>Recipients</translation>
    </message>
    <message>
        <source>升级收件人</source>
        <translation>Escalation recipients</translation>
    </message>
    <message>
        <source>Webhook 地址</source>
        <translation>Webhook URL</translation>
    </message>
    <message>
        <source>重复通知间隔</source>
        <translation>Repeat interval</translation>
    </message>
    <message>
        <source>升级通知时间</source>
        <translation>Escalation time</translation>
    </message>
    <message>
        <source>报警声音</source>
        <translation>Alarm sound</translation>
    </message>
    <message>
        <source>密码</source>
        <translation>Password</translation>
    </message>
    <message>
        <source>未确认时每（分钟）重复</source>
        <translation>Repeat while unacknowledged, every (min)</translation>
    </message>
    <message>
        <source>未确认（分钟）后升级</source>
        <translation>Escalate when unacknowledged after (min)</translation>
    </message>
    <message>
        <source>PV%1 的下限须小于上限</source>
        <translation>The low limit of PV%1 must be below its high limit</translation>
    </message>
    <message>
        <source>邮件服务器地址无效</source>
        <translation>Invalid mail server address</translation>
    </message>
    <message>
        <source>发件人地址无效</source>
        <translation>Invalid sender address</translation>
    </message>
    <message>
        <source>邮件地址无效：%1</source>
        <translation>Invalid mail address: %1</translation>
    </message>
    <message>
        <source>Webhook 地址须以 http:// 或 https:// 开头</source>
        <translation>The webhook URL must start with http:// or https://</translation>
    </message>
    <message>
        <source>正在发送…</source>
        <translation>Sending…</translation>
    </message>
    <message>
        <source>邮件</source>
        <translation>Mail</translation>
    </message>
    <message>
        <source>libcurl 无法初始化</source>
        <translation>libcurl cannot be initialised</translation>
    </message>
    <message>
        <source>数据库文件不存在</source>
        <translation>The database file does not exist</translation>
    </message>
    <message>
        <source>数据库文件只读</source>
        <translation>The database file is read-only</translation>
    </message>
    <message>
        <source>数据库文件尚无记录表</source>
        <translation>The database file has no record table yet</translation>
    </message>
    <message>
        <source>未设置邮件服务器</source>
        <translation>No mail server set</translation>
    </message>
    <message>
        <source>未设置发件人或收件人</source>
        <translation>No sender or recipient set</translation>
    </message>
    <message>
        <source>%1 → %2：%3</source>
        <translation>%1 → %2: %3</translation>
    </message>
    <message>
        <source>已发送 %1</source>
        <translation>Sent %1</translation>
    </message>
    <message>
        <source>发送失败（第 %1 次，%2 秒后重试）%3：%4</source>
        <translation>Sending failed (attempt %1, retry in %2 s) %3: %4</translation>
    </message>
    <message>
        <source>邮件已发送</source>
        <translation>Mail sent</translation>
    </message>
    <message>
        <source>邮件失败：%1</source>
        <translation>Mail failed: %1</translation>
    </message>
    <message>
        <source>未设置邮件服务器或 Webhook</source>
        <translation>No mail server or webhook set</translation>
    </message>
    <message>
        <source>；</source>
        <translation>; </translation>
    </message>
    <message>
        <source>Webhook 已发送</source>
        <translation>Webhook sent</translation>
    </message>
    <message>
        <source>Webhook 失败：%1</source>
        <translation>Webhook failed: %1</translation>
    </message>
    <message>
        <source>恢复正常</source>
        <translation>Back to normal</translation>
    </message>
    <message>
        <source>已确认</source>
        <translation>Acknowledged</translation>
    </message>
    <message>
        <source>报警未确认</source>
        <translation>Alarm not acknowledged</translation>
    </message>
    <message>
        <source>报警升级</source>
        <translation>Alarm escalated</translation>
    </message>
    <message>
        <source>测试</source>
        <translation>Test</translation>
    </message>
    <message>
        <source>[%1] 测试通知</source>
        <translation>[%1] Test notification</translation>
    </message>
    <message>
        <source>[%1] %2：%3</source>
        <translation>[%1] %2: %3</translation>
    </message>
    <message>
        <source>站点：%1</source>
        <translation>Station: %1</translation>
    </message>
    <message>
        <source>试验箱地址：%1</source>
        <translation>Chamber address: %1</translation>
    </message>
    <message>
        <source>这是一条测试通知，收到即说明报警通知可以送达。</source>
        <translation>This is a test notification: receiving it shows that alert notifications get through.</translation>
    </message>
    <message>
        <source>时间：%1</source>
        <translation>Time: %1</translation>
    </message>
    <message>
        <source>报警：%1（%2）</source>
        <translation>Alarm: %1 (%2)</translation>
    </message>
    <message>
        <source>数值：%1</source>
        <translation>Value: %1</translation>
    </message>
    <message>
        <source>说明：%1</source>
        <translation>Note: %1</translation>
    </message>
    <message>
        <source>处理：已恢复正常，请在报警栏确认。</source>
        <translation>Action: back to normal; please acknowledge it in the alert bar.</translation>
    </message>
    <message>
        <source>处理：已恢复正常，报警已确认。</source>
        <translation>Action: back to normal; the alert was already acknowledged.</translation>
    </message>
    <message>
        <source>处理：%1</source>
        <translation>Action: %1</translation>
    </message>
    <message>
        <source>编号：%1</source>
        <translation>Number: %1</translation>
    </message>
    <message>
        <source>仪表报警1</source>
        <translation>Instrument Alarm 1</translation>
    </message>
    <message>
        <source>仪表报警2</source>
        <translation>Instrument Alarm 2</translation>
    </message>
    <message>
        <source>传感器1开路</source>
        <translation>Sensor 1 open</translation>
    </message>
    <message>
        <source>传感器2开路</source>
        <translation>Sensor 2 open</translation>
    </message>
    <message>
        <source>仪表无应答</source>
        <translation>Instrument not answering</translation>
    </message>
    <message>
        <source>PV1超出范围</source>
        <translation>PV1 out of range</translation>
    </message>
    <message>
        <source>PV2超出范围</source>
        <translation>PV2 out of range</translation>
    </message>
    <message>
        <source>记录停止</source>
        <translation>Recording stopped</translation>
    </message>
    <message>
        <source>转发滞后</source>
        <translation>Forwarding lags</translation>
    </message>
    <message>
        <source>请到现场查看试验箱和仪表的报警原因。</source>
        <translation>Please check the chamber and the instrument on site for the cause of the alarm.</translation>
    </message>
    <message>
        <source>请检查传感器及其接线。</source>
        <translation>Please check the sensor and its wiring.</translation>
    </message>
    <message>
        <source>请检查仪表电源、通讯线和串口。</source>
        <translation>Please check the instrument power, the communication cable and the serial port.</translation>
    </message>
    <message>
        <source>请检查试验箱的加热、制冷、加湿和箱门。</source>
        <translation>Please check the heating, cooling, humidifying and the door of the chamber.</translation>
    </message>
    <message>
        <source>请检查磁盘空间和数据库文件。</source>
        <translation>Please check the disk space and the database file.</translation>
    </message>
    <message>
        <source>请检查网络和中心服务器。</source>
        <translation>Please check the network and the central server.</translation>
    </message>
    <message>
        <source>正常</source>
        <translation>Normal</translation>
    </message>
    <message>
        <source>%1 秒无应答</source>
        <translation>no answer for %1 s</translation>
    </message>
    <message>
        <source>PV%1 %2（范围 %3 … %4）</source>
        <translation>PV%1 %2 (range %3 … %4)</translation>
    </message>
    <message>
        <source>记录已停止</source>
        <translation>Recording stopped</translation>
    </message>
    <message>
        <source>滞后 %1 分钟</source>
        <translation>%1 min behind</translation>
    </message>
    <message>
        <source>超出范围 %1~%2</source>
        <translation>out of range %1~%2</translation>
    </message>
    <message>
        <source>%1：空，未发送</source>
        <translation>%1: empty, not sent</translation>
    </message>
    <message>
        <source>%1：“%2” %3，未发送</source>
        <translation>%1: &quot;%2&quot; %3, not sent</translation>
    </message>
    <message>
        <source>空</source>
        <translation>empty</translation>
    </message>
    <message>
        <source>不是数字</source>
        <translation>is no number</translation>
    </message>
    <message>
        <source>不是整数</source>
        <translation>is no whole number</translation>
    </message>
    <message>
        <source>超出寄存器范围</source>
        <translation>out of register range</translation>
    </message>
    <message>
        <source>%1 → %2（失败：%3）</source>
        <translation>%1 → %2 (failed: %3)</translation>
    </message>
    <message>
        <source>端口已打开：%1</source>
        <translation>Port opened: %1</translation>
    </message>
    <message>
        <source>端口已关闭：%1</source>
        <translation>Port closed: %1</translation>
    </message>
    <message>
        <source>端口无法打开：%1</source>
        <translation>Port cannot be opened: %1</translation>
    </message>
    <message>
        <source>设备已断开：%1</source>
        <translation>Device disconnected: %1</translation>
    </message>
    <message>
        <source>设备已恢复：%1</source>
        <translation>Device back: %1</translation>
    </message>
    <message>
        <source>端口已打开</source>
        <translation>Port opened</translation>
    </message>
    <message>
        <source>端口已关闭</source>
        <translation>Port closed</translation>
    </message>
    <message>
        <source>端口无法打开</source>
        <translation>Port cannot be opened</translation>
    </message>
    <message>
        <source>设备已断开</source>
        <translation>Device disconnected</translation>
    </message>
    <message>
        <source>设备已恢复</source>
        <translation>Device back</translation>
    </message>
    <message>
        <source>完整性校验失败：事件记录第 %1 行已被更改</source>
        <translation>Integrity check failed: event row %1 was changed</translation>
    </message>
    <message>
        <source>已被更改：试验记录</source>
        <translation>Changed: the test runs</translation>
    </message>
    <message>
        <source>样本保留 %1 天、最少可用空间 %2 GB、事件记录保留 %3 天</source>
        <translation>samples kept %1 days, at least %2 GB free, events kept %3 days</translation>
    </message>
    <message>
        <source>存档保留设置已更改：%1 → %2（0 天：不限）</source>
        <translation>Archive retention changed: %1 → %2 (0 days: no limit)</translation>
    </message>
    <message>
        <source>完整性校验失败：试验记录已被更改</source>
        <translation>Integrity check failed: the test runs were changed</translation>
    </message>
    <message>
        <source>完整性链在已删除的记录之后接续：%1</source>
        <translation>The integrity chains resume after the deleted records: %1</translation>
    </message>
    <message>
        <source>完整性校验失败：%1 起一小时的存档样本已被更改</source>
        <translation>Integrity check failed: the archived samples of the hour from %1 were changed</translation>
    </message>
    <message>
        <source>存档：已删除 %1 及以前的样本（%2 条）和事件（%3）</source>
        <translation>Archive: deleted the samples up to %1 (%2) and events (%3)</translation>
    </message>
    <message>
        <source>记录中：第 %1 条；补写中，内存中 %2 个样本待写入</source>
        <translation>Recording: record %1; catching up, %2 samples in memory waiting to be written</translation>
    </message>
    <message>
        <source>记录中：第 %1 条</source>
        <translation>Recording: record %1</translation>
    </message>
    <message>
        <source>记录已停止：%1，每秒重试</source>
        <translation>Recording stopped: %1, retrying every second</translation>
    </message>
    <message>
        <source>；内存中 %1 个样本待写入</source>
        <translation>; %1 samples in memory waiting to be written</translation>
    </message>
    <message>
        <source>未记录：%1</source>
        <translation>Not recording: %1</translation>
    </message>
    <message>
        <source>未记录：另一个程序正在记录</source>
        <translation>Not recording: another program records</translation>
    </message>
    <message>
        <source>事件记录已停止：%1，每秒重试</source>
        <translation>Event log stopped: %1, retrying every second</translation>
    </message>
    <message>
        <source>事件记录：%1 条因数据库不可用而丢失</source>
        <translation>Event log: %1 lost as the database was unavailable</translation>
    </message>
    <message>
        <source>磁盘长时间不可写：内存中超出上限的最早 %1 个样本已丢弃</source>
        <translation>Disk not writable for long: the oldest %1 samples over the memory limit were dropped</translation>
    </message>
    <message>
        <source>%1 是正在使用的数据库的文件，不能保存到这里</source>
        <translation>%1 is a file of a database in use and cannot be saved to</translation>
    </message>
    <message>
        <source>%1 是设备 %2 的名称，不能用作文件名</source>
        <translation>%1 is the name of the device %2 and cannot be a file name</translation>
    </message>
    <message>
        <source>数据库 %1 正由另一个程序记录（进程 %2%3）</source>
        <translation>Database %1 is being recorded by another program (process %2%3)</translation>
    </message>
    <message>
        <source>，主机 %1</source>
        <translation>, host %1</translation>
    </message>
    <message>
        <source>保留 %1 天</source>
        <translation>keeping %1 days</translation>
    </message>
    <message>
        <source>磁盘可用空间不足 %1 GB</source>
        <translation>less than %1 GB free on disk</translation>
    </message>
    <message>
        <source>转发: 等待服务器 (%1 条待发)</source>
        <translation>Forwarding: waiting for the server (%1 to send)</translation>
    </message>
    <message>
        <source>转发: 错误: %1</source>
        <translation>Forwarding: error: %1</translation>
    </message>
    <message>
        <source>转发跳过 %1 条记录、%2 条事件 (服务器恢复前已被覆盖)</source>
        <translation>Forwarding skipped %1 records and %2 events (overwritten before the server came back)</translation>
    </message>
    <message>
        <source>转发跳过 %1 条记录 (服务器恢复前已被覆盖)</source>
        <translation>Forwarding skipped %1 records (overwritten before the server came back)</translation>
    </message>
    <message>
        <source>服务器上的表结构不符 (%1)</source>
        <translation>The tables on the server do not match (%1)</translation>
    </message>
    <message>
        <source>服务器拒绝写入 (%1)</source>
        <translation>The server refused the write (%1)</translation>
    </message>
    <message>
        <source>端口 %1（%2）无法打开：%3</source>
        <translation>Port %1 (%2) cannot be opened: %3</translation>
    </message>
    <message>
        <source>端口 %1 无法打开：无对应设备</source>
        <translation>Port %1 cannot be opened: no device for it</translation>
    </message>
    <message>
        <source>端口 %1 无法打开</source>
        <translation>Port %1 cannot be opened</translation>
    </message>
    <message>
        <source>网关 %1:%2（%3，波特率与校验位不适用）</source>
        <translation>Gateway %1:%2 (%3; baud rate and parity do not apply)</translation>
    </message>
    <message>
        <source>模块地址 %1 无效</source>
        <translation>Invalid module address %1</translation>
    </message>
    <message>
        <source>异常应答，代码 %1</source>
        <translation>Exception response, code %1</translation>
    </message>
    <message>
        <source>连接已断开（%1）</source>
        <translation>Connection lost (%1)</translation>
    </message>
    <message>
        <source>设备已断开（%1）</source>
        <translation>Device disconnected (%1)</translation>
    </message>
    <message>
        <source>数据库文件不存在：%1</source>
        <translation>The database file does not exist: %1</translation>
    </message>
    <message>
        <source>数据库无法打开：%1</source>
        <translation>The database cannot be opened: %1</translation>
    </message>
    <message>
        <source>不是记录数据库：%1</source>
        <translation>Not a record database: %1</translation>
    </message>
    <message>
        <source>读取记录失败：%1</source>
        <translation>Reading the records failed: %1</translation>
    </message>
    <message>
        <source>写入失败：%1</source>
        <translation>Writing failed: %1</translation>
    </message>
    <message>
        <source>无法写入文件 %1</source>
        <translation>Cannot write the file %1</translation>
    </message>
    <message>
        <source>%1 → %2</source>
        <translation>%1 → %2</translation>
    </message>
    <message>
        <source>%1；%2</source>
        <translation>%1; %2</translation>
    </message>
    <message>
        <source>%1（%2）</source>
        <translation>%1 (%2)</translation>
    </message>
    <message>
        <source>F4 复原</source>
        <translation>F4 Restore</translation>
    </message>
    <message>
        <source>F4 标尺</source>
        <translation>F4 Ruler</translation>
    </message>
    <message>
        <source>曲线日期 读数</source>
        <translation>Chart date reading</translation>
    </message>
    <message>
        <source>曲线时间 读数</source>
        <translation>Chart time reading</translation>
    </message>
    <message>
        <source>标尺读数</source>
        <translation>Ruler reading</translation>
    </message>
    <message>
        <source>标尺</source>
        <translation>Ruler</translation>
    </message>
    <message>
        <source>Y轴刻度%1</source>
        <translation>Y axis mark %1</translation>
    </message>
    <message>
        <source>输出刻度%1</source>
        <translation>Output mark %1</translation>
    </message>
    <message>
        <source>时间刻度%1</source>
        <translation>Time mark %1</translation>
    </message>
    <message>
        <source>日期刻度%1</source>
        <translation>Date mark %1</translation>
    </message>
    <message>
        <source>功能</source>
        <translation>Functions</translation>
    </message>
    <message>
        <source>F1 缩小</source>
        <translation>F1 Zoom out</translation>
    </message>
    <message>
        <source>F2 放大</source>
        <translation>F2 Zoom in</translation>
    </message>
    <message>
        <source>F3 打印</source>
        <translation>F3 Print</translation>
    </message>
    <message>
        <source>F5 选择</source>
        <translation>F5 Select</translation>
    </message>
    <message>
        <source>F6 左移</source>
        <translation>F6 Newer</translation>
    </message>
    <message>
        <source>F7 右移</source>
        <translation>F7 Older</translation>
    </message>
    <message>
        <source>Y轴最小</source>
        <translation>Y min</translation>
    </message>
    <message>
        <source>Y轴最大</source>
        <translation>Y max</translation>
    </message>
    <message>
        <source>修改Y</source>
        <translation>Set Y</translation>
    </message>
    <message>
        <source>历史截止</source>
        <translation>History until</translation>
    </message>
    <message>
        <source>历史长度</source>
        <translation>History length</translation>
    </message>
    <message>
        <source>显示</source>
        <translation>Show</translation>
    </message>
    <message>
        <source>实时</source>
        <translation>Live</translation>
    </message>
    <message>
        <source>历史记录无法读取</source>
        <translation>The history cannot be read</translation>
    </message>
    <message>
        <source>无数据</source>
        <translation>No data</translation>
    </message>
    <message>
        <source>无记录</source>
        <translation>No records</translation>
    </message>
    <message>
        <source>%1 至 %2</source>
        <translation>%1 to %2</translation>
    </message>
    <message>
        <source>仪表地址 %1    端口 %2    %3</source>
        <translation>Instrument address %1    Port %2    %3</translation>
    </message>
    <message>
        <source>无法写入 %1</source>
        <translation>Cannot write %1</translation>
    </message>
    <message>
        <source>曲线</source>
        <translation>Chart</translation>
    </message>
    <message>
        <source>输出</source>
        <translation>Output</translation>
    </message>
    <message>
        <source>打印(&amp;P)…</source>
        <translation>&amp;Print…</translation>
    </message>
    <message>
        <source>保存为 PDF(&amp;D)…</source>
        <translation>Save as P&amp;DF…</translation>
    </message>
    <message>
        <source>保存为 PNG(&amp;G)…</source>
        <translation>Save as PN&amp;G…</translation>
    </message>
    <message>
        <source>导出记录 (CSV)</source>
        <translation>Export records (CSV)</translation>
    </message>
    <message>
        <source>导出记录 从</source>
        <translation>Export records from</translation>
    </message>
    <message>
        <source>导出记录 到</source>
        <translation>Export records to</translation>
    </message>
    <message>
        <source>从(&amp;F)</source>
        <translation>&amp;From</translation>
    </message>
    <message>
        <source>到(&amp;T)</source>
        <translation>&amp;To</translation>
    </message>
    <message>
        <source>全部记录(&amp;A)</source>
        <translation>&amp;All records</translation>
    </message>
    <message>
        <source>全部记录</source>
        <translation>All records</translation>
    </message>
    <message>
        <source>导出 CSV(&amp;E)…</source>
        <translation>&amp;Export CSV…</translation>
    </message>
    <message>
        <source>取消导出(&amp;C)</source>
        <translation>&amp;Cancel export</translation>
    </message>
    <message>
        <source>导出进度</source>
        <translation>Export progress</translation>
    </message>
    <message>
        <source>输出状态</source>
        <translation>Output state</translation>
    </message>
    <message>
        <source>关闭</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>打印曲线</source>
        <translation>Print chart</translation>
    </message>
    <message>
        <source>已打印</source>
        <translation>Printed</translation>
    </message>
    <message>
        <source>打印失败</source>
        <translation>Printing failed</translation>
    </message>
    <message>
        <source>保存为 PDF</source>
        <translation>Save as PDF</translation>
    </message>
    <message>
        <source>PDF 文件 (*.pdf)</source>
        <translation>PDF files (*.pdf)</translation>
    </message>
    <message>
        <source>已保存 %1</source>
        <translation>Saved %1</translation>
    </message>
    <message>
        <source>保存为 PNG</source>
        <translation>Save as PNG</translation>
    </message>
    <message>
        <source>PNG 图片 (*.png)</source>
        <translation>PNG images (*.png)</translation>
    </message>
    <message>
        <source>导出 CSV</source>
        <translation>Export CSV</translation>
    </message>
    <message>
        <source>CSV 文件 (*.csv)</source>
        <translation>CSV files (*.csv)</translation>
    </message>
    <message>
        <source>正在导出…</source>
        <translation>Exporting…</translation>
    </message>
    <message>
        <source>无法写入 %1：%2</source>
        <translation>Cannot write %1: %2</translation>
    </message>
    <message>
        <source>已导出 %1 条记录到 %2</source>
        <translation>Exported %1 records to %2</translation>
    </message>
    <message>
        <source>输出1</source>
        <translation>Output 1</translation>
    </message>
    <message>
        <source>输出2</source>
        <translation>Output 2</translation>
    </message>
    <message>
        <source>通道%1</source>
        <translation>Channel %1</translation>
    </message>
    <message>
        <source>1 小时</source>
        <translation>1 hour</translation>
    </message>
    <message>
        <source>1 天</source>
        <translation>1 day</translation>
    </message>
    <message>
        <source>1 周</source>
        <translation>1 week</translation>
    </message>
    <message>
        <source>1 月</source>
        <translation>1 month</translation>
    </message>
    <message>
        <source>%1  最小 %2  最大 %3  平均 %4</source>
        <translation>%1  min %2  max %3  mean %4</translation>
    </message>
    <message>
        <source>Velmar 配置 </source>
        <translation>Velmar configuration </translation>
    </message>
    <message>
        <source> 读数</source>
        <translation> reading</translation>
    </message>
    <message>
        <source>0:禁止 </source>
        <translation>0:Disabled </translation>
    </message>
    <message>
        <source>1:允许 </source>
        <translation>1:Enabled </translation>
    </message>
    <message>
        <source>禁止</source>
        <translation>Disabled</translation>
    </message>
    <message>
        <source>使能</source>
        <translation>Enabled</translation>
    </message>
    <message>
        <source>0:摄氏度 </source>
        <translation>0:Celsius </translation>
    </message>
    <message>
        <source>1:华氏度 </source>
        <translation>1:Fahrenheit </translation>
    </message>
    <message>
        <source>2:绝对温度K </source>
        <translation>2:Kelvin </translation>
    </message>
    <message>
        <source>摄氏度</source>
        <translation>Celsius</translation>
    </message>
    <message>
        <source>华氏度</source>
        <translation>Fahrenheit</translation>
    </message>
    <message>
        <source>绝对温度</source>
        <translation>Kelvin</translation>
    </message>
    <message>
        <source>10:正负20毫伏 </source>
        <translation>10:±20 mV </translation>
    </message>
    <message>
        <source>11:正负100毫伏 </source>
        <translation>11:±100 mV </translation>
    </message>
    <message>
        <source>12:温湿度专用SHT10</source>
        <translation>12:SHT10 temperature/humidity</translation>
    </message>
    <message>
        <source>正负20毫伏</source>
        <translation>±20 mV</translation>
    </message>
    <message>
        <source>正负100毫伏</source>
        <translation>±100 mV</translation>
    </message>
    <message>
        <source>温湿度专用SHT10</source>
        <translation>SHT10 temp./humidity</translation>
    </message>
    <message>
        <source>0:断开 </source>
        <translation>0:Open </translation>
    </message>
    <message>
        <source>1:闭合 </source>
        <translation>1:Closed </translation>
    </message>
    <message>
        <source>断开</source>
        <translation>Open</translation>
    </message>
    <message>
        <source>闭合</source>
        <translation>Closed</translation>
    </message>
    <message>
        <source>1:上限 </source>
        <translation>1:High </translation>
    </message>
    <message>
        <source>2:下限 </source>
        <translation>2:Low </translation>
    </message>
    <message>
        <source>3:上偏差 </source>
        <translation>3:High deviation </translation>
    </message>
    <message>
        <source>4:下偏差 </source>
        <translation>4:Low deviation </translation>
    </message>
    <message>
        <source>5:偏差带 </source>
        <translation>5:Deviation band </translation>
    </message>
    <message>
        <source>上限</source>
        <translation>High</translation>
    </message>
    <message>
        <source>下限</source>
        <translation>Low</translation>
    </message>
    <message>
        <source>上偏差</source>
        <translation>High deviation</translation>
    </message>
    <message>
        <source>下偏差</source>
        <translation>Low deviation</translation>
    </message>
    <message>
        <source>偏差带</source>
        <translation>Deviation band</translation>
    </message>
    <message>
        <source>0:通道一 </source>
        <translation>0:Channel 1 </translation>
    </message>
    <message>
        <source>1:通道二 </source>
        <translation>1:Channel 2 </translation>
    </message>
    <message>
        <source>通道一报警</source>
        <translation>Channel 1 alarm</translation>
    </message>
    <message>
        <source>通道二报警</source>
        <translation>Channel 2 alarm</translation>
    </message>
    <message>
        <source>0:无校验 </source>
        <translation>0:No parity </translation>
    </message>
    <message>
        <source>1:奇校验 </source>
        <translation>1:Odd parity </translation>
    </message>
    <message>
        <source>2:偶校验 </source>
        <translation>2:Even parity </translation>
    </message>
    <message>
        <source>打开端口</source>
        <translation>Open port</translation>
    </message>
    <message>
        <source>关闭端口</source>
        <translation>Close port</translation>
    </message>
    <message>
        <source>无校验</source>
        <translation>No parity</translation>
    </message>
    <message>
        <source>奇校验</source>
        <translation>Odd parity</translation>
    </message>
    <message>
        <source>偶校验</source>
        <translation>Even parity</translation>
    </message>
    <message>
        <source>1:通道一变送 </source>
        <translation>1:Channel 1 retransmit </translation>
    </message>
    <message>
        <source>2:通道二变送 </source>
        <translation>2:Channel 2 retransmit </translation>
    </message>
    <message>
        <source>不变送</source>
        <translation>No retransmission</translation>
    </message>
    <message>
        <source>通道一变送</source>
        <translation>Channel 1 retransmit</translation>
    </message>
    <message>
        <source>通道二变送</source>
        <translation>Channel 2 retransmit</translation>
    </message>
    <message>
        <source>小数点位置，0-8888，1-888.8，2-88.88，3-8.888，默认值：无小数点</source>
        <translation>Decimal point: 0-8888, 1-888.8, 2-88.88, 3-8.888. Default: no decimal point</translation>
    </message>
    <message>
        <source>-1999~ 9999。默认值：5000</source>
        <translation>-1999 to 9999. Default: 5000</translation>
    </message>
    <message>
        <source>-1999~ 9999。默认值：0</source>
        <translation>-1999 to 9999. Default: 0</translation>
    </message>
    <message>
        <source>-500~ 500。默认值：0</source>
        <translation>-500 to 500. Default: 0</translation>
    </message>
    <message>
        <source>0~ 2000。默认值：0</source>
        <translation>0 to 2000. Default: 0</translation>
    </message>
    <message>
        <source>0~ 600。默认值：0</source>
        <translation>0 to 600. Default: 0</translation>
    </message>
    <message>
        <source>1~ 1000。默认值：1</source>
        <translation>1 to 1000. Default: 1</translation>
    </message>
    <message>
        <source>0-断开，1-闭合，默认：断开</source>
        <translation>0-Open, 1-Closed. Default: Open</translation>
    </message>
    <message>
        <source>0-5，0：无,1:上限，2：下限，3：上偏差，4：下偏差，5：偏差带。默认值：0</source>
        <translation>0-5: 0 none, 1 high, 2 low, 3 high deviation, 4 low deviation, 5 deviation band. Default: 0</translation>
    </message>
    <message>
        <source>0-(4-20MA),1-(0-10MA),2-(0-20MA). 默认值：0</source>
        <translation>0-(4-20mA), 1-(0-10mA), 2-(0-20mA). Default: 0</translation>
    </message>
    <message>
        <source>0-NONE，1-通道一，2-通道二 。Default=通道一</source>
        <translation>0-NONE, 1-Channel 1, 2-Channel 2. Default: Channel 1</translation>
    </message>
    <message>
        <source>程序曲线使能</source>
        <translation>Ramp/soak program</translation>
    </message>
    <message>
        <source>0-无曲线，1-8段程序曲线，默认：无</source>
        <translation>0-no program, 1-8-segment program. Default: none</translation>
    </message>
    <message>
        <source>上电报警免除</source>
        <translation>Alarm inhibit at power-on</translation>
    </message>
    <message>
        <source>0-上电报警免除禁止，1-上电报警免除使能，默认上电报警免除禁止</source>
        <translation>0-inhibit disabled, 1-inhibit enabled. Default: disabled</translation>
    </message>
    <message>
        <source>数字滤波</source>
        <translation>Digital filter</translation>
    </message>
    <message>
        <source>0.1-100秒，默认1秒</source>
        <translation>0.1-100 s. Default: 1 s</translation>
    </message>
    <message>
        <source>温度单位</source>
        <translation>Temperature unit</translation>
    </message>
    <message>
        <source>0-摄氏度C，1-华氏度F， 2-绝对温度K。默认值：0</source>
        <translation>0-Celsius C, 1-Fahrenheit F, 2-Kelvin K. Default: 0</translation>
    </message>
    <message>
        <source>输入传感器类型</source>
        <translation>Input sensor type</translation>
    </message>
    <message>
        <source>模拟线性输入12种，IIC温湿度传感器一种。默认值:0V5</source>
        <translation>12 analogue linear inputs, one IIC temperature/humidity sensor. Default: 0V5</translation>
    </message>
    <message>
        <source>小数点位置</source>
        <translation>Decimal point</translation>
    </message>
    <message>
        <source>输入上限</source>
        <translation>Input high limit</translation>
    </message>
    <message>
        <source>输入下限</source>
        <translation>Input low limit</translation>
    </message>
    <message>
        <source>平移修正</source>
        <translation>Offset correction</translation>
    </message>
    <message>
        <source>模拟线性输入11种，IIC温湿度传感器一种。默认值:0V5</source>
        <translation>11 analogue linear inputs, one IIC temperature/humidity sensor. Default: 0V5</translation>
    </message>
    <message>
        <source>输出1动作回差</source>
        <translation>Output 1 hysteresis</translation>
    </message>
    <message>
        <source>输出1动作延迟</source>
        <translation>Output 1 delay</translation>
    </message>
    <message>
        <source>再动作保护时间</source>
        <translation>Restart protection time</translation>
    </message>
    <message>
        <source>输入开路状态</source>
        <translation>Open-input state</translation>
    </message>
    <message>
        <source>输出2动作回差</source>
        <translation>Output 2 hysteresis</translation>
    </message>
    <message>
        <source>输出2动作延迟</source>
        <translation>Output 2 delay</translation>
    </message>
    <message>
        <source>报警1方式</source>
        <translation>Alarm 1 mode</translation>
    </message>
    <message>
        <source>报警2方式</source>
        <translation>Alarm 2 mode</translation>
    </message>
    <message>
        <source>报警1作用通道</source>
        <translation>Alarm 1 channel</translation>
    </message>
    <message>
        <source>0-通道1报警，1-通道2报警。默认值：0</source>
        <translation>0-Channel 1 alarm, 1-Channel 2 alarm. Default: 0</translation>
    </message>
    <message>
        <source>报警2作用通道</source>
        <translation>Alarm 2 channel</translation>
    </message>
    <message>
        <source>0-通道1报警，1-通道2报警。默认值：1</source>
        <translation>0-Channel 1 alarm, 1-Channel 2 alarm. Default: 1</translation>
    </message>
    <message>
        <source>通讯地址</source>
        <translation>Comms address</translation>
    </message>
    <message>
        <source>1-247。默认值：1</source>
        <translation>1-247. Default: 1</translation>
    </message>
    <message>
        <source>通讯波特率</source>
        <translation>Comms baud rate</translation>
    </message>
    <message>
        <source>0-4800，1-9600，2-19200 。Default=1</source>
        <translation>0-4800, 1-9600, 2-19200. Default: 1</translation>
    </message>
    <message>
        <source>校验方式</source>
        <translation>Parity</translation>
    </message>
    <message>
        <source>0-无校验，1-奇校验，2-偶校验，Default=0</source>
        <translation>0-No parity, 1-Odd, 2-Even. Default: 0</translation>
    </message>
    <message>
        <source>通讯延迟时间</source>
        <translation>Comms delay</translation>
    </message>
    <message>
        <source>0-60MS。默认值：0</source>
        <translation>0-60 ms. Default: 0</translation>
    </message>
    <message>
        <source>变送量程选择</source>
        <translation>Retransmission range</translation>
    </message>
    <message>
        <source>变送参数选择</source>
        <translation>Retransmitted value</translation>
    </message>
    <message>
        <source>变送上限选择</source>
        <translation>Retransmission high</translation>
    </message>
    <message>
        <source>变送下限选择</source>
        <translation>Retransmission low</translation>
    </message>
    <message>
        <source>输入1</source>
        <translation>Input 1</translation>
    </message>
    <message>
        <source>输入2</source>
        <translation>Input 2</translation>
    </message>
    <message>
        <source>通讯</source>
        <translation>Comms</translation>
    </message>
    <message>
        <source>变送1</source>
        <translation>Retrans. 1</translation>
    </message>
    <message>
        <source>变送2</source>
        <translation>Retrans. 2</translation>
    </message>
    <message>
        <source>0.1-100.0S。 数值越大响应越慢。默认值：1S</source>
        <translation>0.1-100.0 s. The larger the value, the slower the response. Default: 1 s</translation>
    </message>
    <message>
        <source>控制1 ON</source>
        <translation>Control 1 ON</translation>
    </message>
    <message>
        <source>控制1 OFF</source>
        <translation>Control 1 OFF</translation>
    </message>
    <message>
        <source>控制2 ON</source>
        <translation>Control 2 ON</translation>
    </message>
    <message>
        <source>控制2 OFF </source>
        <translation>Control 2 OFF </translation>
    </message>
    <message>
        <source>ALM1报警</source>
        <translation>ALM1 alarm</translation>
    </message>
    <message>
        <source>ALM2 报警</source>
        <translation>ALM2 alarm</translation>
    </message>
    <message>
        <source>传感器正常 </source>
        <translation>Sensor normal </translation>
    </message>
    <message>
        <source>上限报警</source>
        <translation>High alarm</translation>
    </message>
    <message>
        <source>下限报警</source>
        <translation>Low alarm</translation>
    </message>
    <message>
        <source>上偏差报警</source>
        <translation>High dev. alarm</translation>
    </message>
    <message>
        <source>下偏差报警</source>
        <translation>Low dev. alarm</translation>
    </message>
    <message>
        <source>偏差带报警</source>
        <translation>Dev. band alarm</translation>
    </message>
    <message>
        <source>停止  </source>
        <translation>Stop  </translation>
    </message>
    <message>
        <source>运行</source>
        <translation>Run</translation>
    </message>
    <message>
        <source>暂停</source>
        <translation>Pause</translation>
    </message>
    <message>
        <source>结束</source>
        <translation>End</translation>
    </message>
    <message>
        <source>仪表无应答（超时）</source>
        <translation>Instrument not answering (timeout)</translation>
    </message>
    <message>
        <source>CRC校验错误</source>
        <translation>CRC error</translation>
    </message>
    <message>
        <source>应答格式错误</source>
        <translation>Malformed answer</translation>
    </message>
    <message>
        <source>连接被拒绝</source>
        <translation>Connection refused</translation>
    </message>
    <message>
        <source>主机无应答</source>
        <translation>Host not answering</translation>
    </message>
    <message>
        <source>网关关闭了连接</source>
        <translation>The gateway closed the connection</translation>
    </message>
    <message>
        <source>端口未打开</source>
        <translation>Port not open</translation>
    </message>
    <message>
        <source>通讯已停止</source>
        <translation>Communication stopped</translation>
    </message>
    <message>
        <source>端口 %1</source>
        <translation>Port %1</translation>
    </message>
    <message>
        <source>设备已断开，等待重新连接</source>
        <translation>Device disconnected, waiting to reconnect</translation>
    </message>
    <message>
        <source>RTU 透传</source>
        <translation>RTU pass-through</translation>
    </message>
    <message>
        <source>0:停止 </source>
        <translation>0:Stop </translation>
    </message>
    <message>
        <source>1:运行 </source>
        <translation>1:Run </translation>
    </message>
    <message>
        <source>2:暂停 </source>
        <translation>2:Pause </translation>
    </message>
    <message>
        <source>4:结束 </source>
        <translation>4:End </translation>
    </message>
    <message>
        <source>PV状态</source>
        <translation>PV status</translation>
    </message>
    <message>
        <source>测量值PV1</source>
        <translation>Measured PV1</translation>
    </message>
    <message>
        <source>设定值PV2</source>
        <translation>Measured PV2</translation>
    </message>
    <message>
        <source>设定</source>
        <translation>Set </translation>
    </message>
    <message>
        <source>变送%1百分比</source>
        <translation>Retransmission %1 %</translation>
    </message>
    <message>
        <source>PV状态 </source>
        <translation>PV status </translation>
    </message>
    <message>
        <source> 数值</source>
        <translation> value</translation>
    </message>
    <message>
        <source>曲线状态</source>
        <translation>Program status</translation>
    </message>
    <message>
        <source>当前段号</source>
        <translation>Segment</translation>
    </message>
    <message>
        <source>段剩余</source>
        <translation>Segment left</translation>
    </message>
    <message>
        <source>总剩余</source>
        <translation>Total left</translation>
    </message>
    <message>
        <source>循环次数</source>
        <translation>Cycle count</translation>
    </message>
    <message>
        <source>停止</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>曲线状态 </source>
        <translation>Program status </translation>
    </message>
    <message>
        <source>设定曲线 命令</source>
        <translation>Program command list</translation>
    </message>
    <message>
        <source>设定曲线</source>
        <translation>Program command</translation>
    </message>
    <message>
        <source>当前报警</source>
        <translation>Current alarms</translation>
    </message>
    <message>
        <source>控制1</source>
        <translation>Control 1</translation>
    </message>
    <message>
        <source>控制2</source>
        <translation>Control 2</translation>
    </message>
    <message>
        <source>传感器1</source>
        <translation>Sensor 1</translation>
    </message>
    <message>
        <source>传感器2</source>
        <translation>Sensor 2</translation>
    </message>
    <message>
        <source>当前报警 </source>
        <translation>Current alarms </translation>
    </message>
    <message>
        <source>当前报警 ALM%1类型 读数</source>
        <translation>Current alarms ALM%1 type reading</translation>
    </message>
    <message>
        <source>参数</source>
        <translation>Parameters</translation>
    </message>
    <message>
        <source>输入1 </source>
        <translation>Input 1 </translation>
    </message>
    <message>
        <source>输入2 </source>
        <translation>Input 2 </translation>
    </message>
    <message>
        <source>报警设定</source>
        <translation>Alarm settings</translation>
    </message>
    <message>
        <source>数据已过时：仪表无应答</source>
        <translation>Data out of date: instrument not answering</translation>
    </message>
    <message>
        <source>设定SV1</source>
        <translation>Set SV1</translation>
    </message>
    <message>
        <source>设定SV2</source>
        <translation>Set SV2</translation>
    </message>
    <message>
        <source>%1：“%2” 不是列表中的命令，未发送</source>
        <translation>%1: &quot;%2&quot; is no command of the list, not sent</translation>
    </message>
    <message>
        <source>曲线使能</source>
        <translation>Program enable</translation>
    </message>
    <message>
        <source>温度单位切换</source>
        <translation>Temperature unit</translation>
    </message>
    <message>
        <source>输入1类型</source>
        <translation>Input 1 type</translation>
    </message>
    <message>
        <source>输入1上限</source>
        <translation>Input 1 high</translation>
    </message>
    <message>
        <source>输入1下限</source>
        <translation>Input 1 low</translation>
    </message>
    <message>
        <source>输入1偏移</source>
        <translation>Input 1 offset</translation>
    </message>
    <message>
        <source>输入2类型</source>
        <translation>Input 2 type</translation>
    </message>
    <message>
        <source>输入2上限</source>
        <translation>Input 2 high</translation>
    </message>
    <message>
        <source>输入2下限</source>
        <translation>Input 2 low</translation>
    </message>
    <message>
        <source>输入2偏移</source>
        <translation>Input 2 offset</translation>
    </message>
    <message>
        <source>输出1延迟时间</source>
        <translation>Output 1 delay</translation>
    </message>
    <message>
        <source>输出1保护时间</source>
        <translation>Output 1 protection</translation>
    </message>
    <message>
        <source>输人1开路状态</source>
        <translation>Input 1 open state</translation>
    </message>
    <message>
        <source>输出2延迟时间</source>
        <translation>Output 2 delay</translation>
    </message>
    <message>
        <source>输出2保护时间</source>
        <translation>Output 2 protection</translation>
    </message>
    <message>
        <source>输入2开路状态</source>
        <translation>Input 2 open state</translation>
    </message>
    <message>
        <source>报警1类型</source>
        <translation>Alarm 1 type</translation>
    </message>
    <message>
        <source>报警2类型</source>
        <translation>Alarm 2 type</translation>
    </message>
    <message>
        <source>波特率</source>
        <translation>Baud rate</translation>
    </message>
    <message>
        <source>通讯延迟</source>
        <translation>Comms delay</translation>
    </message>
    <message>
        <source>变送1量程</source>
        <translation>Retrans. 1 range</translation>
    </message>
    <message>
        <source>变送1参数选择</source>
        <translation>Retrans. 1 value</translation>
    </message>
    <message>
        <source>变送1上限</source>
        <translation>Retrans. 1 high</translation>
    </message>
    <message>
        <source>变送1下限</source>
        <translation>Retrans. 1 low</translation>
    </message>
    <message>
        <source>变送2量程</source>
        <translation>Retrans. 2 range</translation>
    </message>
    <message>
        <source>变送2参数选择</source>
        <translation>Retrans. 2 value</translation>
    </message>
    <message>
        <source>变送2上限</source>
        <translation>Retrans. 2 high</translation>
    </message>
    <message>
        <source>变送2下限</source>
        <translation>Retrans. 2 low</translation>
    </message>
    <message>
        <source>报警1设定值</source>
        <translation>Alarm 1 set value</translation>
    </message>
    <message>
        <source>报警1动作回差</source>
        <translation>Alarm 1 hysteresis</translation>
    </message>
    <message>
        <source>报警1延迟时间</source>
        <translation>Alarm 1 delay</translation>
    </message>
    <message>
        <source>报警2设定值</source>
        <translation>Alarm 2 set value</translation>
    </message>
    <message>
        <source>报警2动作回差</source>
        <translation>Alarm 2 hysteresis</translation>
    </message>
    <message>
        <source>报警2延迟时间</source>
        <translation>Alarm 2 delay</translation>
    </message>
    <message>
        <source>当前程序曲线</source>
        <translation>Current program</translation>
    </message>
    <message>
        <source>当前程序曲线：</source>
        <translation>Current program:</translation>
    </message>
    <message>
        <source>温度  ℃ </source>
        <translation>Temperature  ℃ </translation>
    </message>
    <message>
        <source>时间轴 刻度%1</source>
        <translation>Time axis mark %1</translation>
    </message>
    <message>
        <source>温度轴 刻度%1</source>
        <translation>Temperature axis mark %1</translation>
    </message>
    <message>
        <source>曲线最大值</source>
        <translation>Program maximum</translation>
    </message>
    <message>
        <source>曲线最小值</source>
        <translation>Program minimum</translation>
    </message>
    <message>
        <source>温度轴 刻度间隔</source>
        <translation>Temperature axis mark interval</translation>
    </message>
    <message>
        <source>刻度间隔</source>
        <translation>Step</translation>
    </message>
    <message>
        <source>时间单位</source>
        <translation>Time unit</translation>
    </message>
    <message>
        <source>时间单位：小时</source>
        <translation>Time unit: hours</translation>
    </message>
    <message>
        <source>0:小时 </source>
        <translation>0:Hours </translation>
    </message>
    <message>
        <source>1:分钟 </source>
        <translation>1:Minutes </translation>
    </message>
    <message>
        <source>2:秒 </source>
        <translation>2:Seconds </translation>
    </message>
    <message>
        <source>%1:%1段 </source>
        <translation>%1:%1 segments </translation>
    </message>
    <message>
        <source>0:来电继续 </source>
        <translation>0:Continue at power-up </translation>
    </message>
    <message>
        <source>1:来电停止 </source>
        <translation>1:Stop at power-up </translation>
    </message>
    <message>
        <source>2:来电从第一段运行 </source>
        <translation>2:Restart from segment 1 </translation>
    </message>
    <message>
        <source>3:无偏差继续运行，有偏差停 </source>
        <translation>3:Continue unless deviating, else stop </translation>
    </message>
    <message>
        <source>4:来电进入暂停 </source>
        <translation>4:Pause at power-up </translation>
    </message>
    <message>
        <source>0:测量值 </source>
        <translation>0:Measured value </translation>
    </message>
    <message>
        <source>1:设定值 </source>
        <translation>1:Set value </translation>
    </message>
    <message>
        <source>0:输出控制为0 </source>
        <translation>0:Output to zero </translation>
    </message>
    <message>
        <source>1:保持最后SV控制 </source>
        <translation>1:Hold the last SV </translation>
    </message>
    <message>
        <source>无限</source>
        <translation>Endless</translation>
    </message>
    <message>
        <source>来电继续</source>
        <translation>Continue</translation>
    </message>
    <message>
        <source>来电停止</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>第一段运行</source>
        <translation>From segment 1</translation>
    </message>
    <message>
        <source>有偏差停</source>
        <translation>Stop on deviation</translation>
    </message>
    <message>
        <source>进入暂停 </source>
        <translation>Pause </translation>
    </message>
    <message>
        <source>测量值</source>
        <translation>Measured value</translation>
    </message>
    <message>
        <source>设定值</source>
        <translation>Set value</translation>
    </message>
    <message>
        <source>输出为零</source>
        <translation>Output zero</translation>
    </message>
    <message>
        <source>最后SV控制</source>
        <translation>Hold last SV</translation>
    </message>
    <message>
        <source>时间单位：分钟</source>
        <translation>Time unit: minutes</translation>
    </message>
    <message>
        <source>时间单位：秒</source>
        <translation>Time unit: seconds</translation>
    </message>
    <message>
        <source>工艺曲线设定</source>
        <translation>Ramp/soak program setup</translation>
    </message>
    <message>
        <source>下载曲线</source>
        <translation>Download program</translation>
    </message>
    <message>
        <source>功能设定</source>
        <translation>Program settings</translation>
    </message>
    <message>
        <source>曲线时间单位</source>
        <translation>Time unit</translation>
    </message>
    <message>
        <source>程序段数</source>
        <translation>Segments</translation>
    </message>
    <message>
        <source>掉电处理</source>
        <translation>Power failure</translation>
    </message>
    <message>
        <source>起始设定值</source>
        <translation>Start value</translation>
    </message>
    <message>
        <source>结束输出功能</source>
        <translation>Output at end</translation>
    </message>
    <message>
        <source>程序循环次数</source>
        <translation>Cycle count</translation>
    </message>
    <message>
        <source> 设定</source>
        <translation> settings</translation>
    </message>
    <message>
        <source>设定值SV1</source>
        <translation>Set value SV1</translation>
    </message>
    <message>
        <source>设定值SV2</source>
        <translation>Set value SV2</translation>
    </message>
    <message>
        <source>设定值TIME</source>
        <translation>Set value TIME</translation>
    </message>
    <message>
        <source>日期时间,PV1,PV2,SV1,SV2,变送1,变送2,ALM1类型,ALM2类型,输出1,输出2</source>
        <translation>Date time,PV1,PV2,SV1,SV2,Retransmission 1,Retransmission 2,ALM1 type,ALM2 type,Output 1,Output 2</translation>
    </message>
    <message>
        <source>导出已取消</source>
        <translation>Export cancelled</translation>
    </message>
    <message>
        <source>写入</source>
        <translation>Write</translation>
    </message>
    <message>
        <source>程序</source>
        <translation>Program</translation>
    </message>
    <message>
        <source>记录</source>
        <translation>Recorder</translation>
    </message>
    <message>
        <source>仪表停止应答</source>
        <translation>Instrument stopped answering</translation>
    </message>
    <message>
        <source>仪表恢复应答</source>
        <translation>Instrument answers again</translation>
    </message>
    <message>
        <source>记录中</source>
        <translation>Recording</translation>
    </message>
    <message>
        <source>开始记录</source>
        <translation>Recording started</translation>
    </message>
    <message>
        <source>时间,类型,内容,寄存器,数值,状态</source>
        <translation>Time,Kind,Text,Register,Value,Status</translation>
    </message>
    <message>
        <source>转发: 正常</source>
        <translation>Forwarding: normal</translation>
    </message>
    <message>
        <source>用户名或密码错误</source>
        <translation>Wrong user name or password</translation>
    </message>
    <message>
        <source>缺少密码</source>
        <translation>Password missing</translation>
    </message>
    <message>
        <source>服务器不接受本机的连接</source>
        <translation>The server does not accept connections from this computer</translation>
    </message>
    <message>
        <source>数据库不存在</source>
        <translation>The database does not exist</translation>
    </message>
    <message>
        <source>用户不存在</source>
        <translation>The user does not exist</translation>
    </message>
    <message>
        <source>没有写入服务器表的权限</source>
        <translation>No permission to write the server tables</translation>
    </message>
    <message>
        <source>连接参数无效</source>
        <translation>Invalid connection parameters</translation>
    </message>
    <message>
        <source>缺少 PostgreSQL 驱动</source>
        <translation>PostgreSQL driver missing</translation>
    </message>
    <message>
        <source>记录未启动</source>
        <translation>Recording not started</translation>
    </message>
    <message>
        <source>记录中：磁盘缓慢，样本排队待写入</source>
        <translation>Recording: disk slow, samples queued for writing</translation>
    </message>
    <message>
        <source>数据库未打开</source>
        <translation>Database not open</translation>
    </message>
    <message>
        <source>无法创建数据库文件夹</source>
        <translation>Cannot create the database folder</translation>
    </message>
    <message>
        <source>无法创建数据库文件</source>
        <translation>Cannot create the database file</translation>
    </message>
    <message>
        <source>数据库文件被其他程序锁定</source>
        <translation>The database file is locked by another program</translation>
    </message>
    <message>
        <source>文件不是数据库</source>
        <translation>The file is not a database</translation>
    </message>
    <message>
        <source>数据库文件已损坏</source>
        <translation>The database file is damaged</translation>
    </message>
    <message>
        <source>数据库表结构不符</source>
        <translation>The database tables do not match</translation>
    </message>
    <message>
        <source>数据库表 pv_data 的 w_id 不是唯一键</source>
        <translation>w_id of the database table pv_data is no unique key</translation>
    </message>
    <message>
        <source>磁盘已满</source>
        <translation>Disk full</translation>
    </message>
    <message>
        <source>无法读写数据库文件</source>
        <translation>Cannot read or write the database file</translation>
    </message>
    <message>
        <source>报警栏更多</source>
        <translation>Alert bar more</translation>
    </message>
    <message>
        <source>打开</source>
        <translation>Open</translation>
    </message>
    <message>
        <source>事件记录</source>
        <translation>Event log</translation>
    </message>
    <message>
        <source>事件类型</source>
        <translation>Event kind</translation>
    </message>
    <message>
        <source>全部</source>
        <translation>All</translation>
    </message>
    <message>
        <source>类型</source>
        <translation>Kind</translation>
    </message>
    <message>
        <source>时间范围</source>
        <translation>Time span</translation>
    </message>
    <message>
        <source>按时间范围筛选</source>
        <translation>Filter by time span</translation>
    </message>
    <message>
        <source>起始时间</source>
        <translation>Start time</translation>
    </message>
    <message>
        <source>结束时间</source>
        <translation>End time</translation>
    </message>
    <message>
        <source>从</source>
        <translation>From</translation>
    </message>
    <message>
        <source>到</source>
        <translation>To</translation>
    </message>
    <message>
        <source>事件列表</source>
        <translation>Event list</translation>
    </message>
    <message>
        <source>内容</source>
        <translation>Text</translation>
    </message>
    <message>
        <source>导出CSV</source>
        <translation>Export CSV</translation>
    </message>
    <message>
        <source> Esc 返回</source>
        <translation> Esc Back</translation>
    </message>
    <message>
        <source>Esc 返回</source>
        <translation>Esc Back</translation>
    </message>
    <message>
        <source>事件记录状态</source>
        <translation>Event log status</translation>
    </message>
    <message>
        <source>导出失败：%1</source>
        <translation>Export failed: %1</translation>
    </message>
    <message>
        <source>已导出 %1 条</source>
        <translation>Exported %1</translation>
    </message>
    <message>
        <source>读取中…</source>
        <translation>Reading…</translation>
    </message>
    <message>
        <source>共显示 %1 条</source>
        <translation>%1 shown</translation>
    </message>
    <message>
        <source>导出中…</source>
        <translation>Exporting…</translation>
    </message>
    <message>
        <source>转发状态</source>
        <translation>Forwarding status</translation>
    </message>
    <message>
        <source>转发跳过</source>
        <translation>Forwarding skipped</translation>
    </message>
    <message>
        <source>服务器地址无效</source>
        <translation>Invalid server address</translation>
    </message>
    <message>
        <source>双回路控制器（温湿度控制） VelmarS </source>
        <translation>Two-loop controller (temperature and humidity) VelmarS </translation>
    </message>
    <message>
        <source>通讯状态</source>
        <translation>Comms status</translation>
    </message>
    <message>
        <source>记录状态</source>
        <translation>Recorder status</translation>
    </message>
    <message>
        <source>操作结果</source>
        <translation>Operation result</translation>
    </message>
    <message>
        <source>通讯端口选择</source>
        <translation>Comms port</translation>
    </message>
    <message>
        <source>通讯端口</source>
        <translation>Comms port</translation>
    </message>
    <message>
        <source>通讯端口 设备</source>
        <translation>Comms port device</translation>
    </message>
    <message>
        <source>模块地址</source>
        <translation>Module address</translation>
    </message>
    <message>
        <source>曲线设置</source>
        <translation>Program setup</translation>
    </message>
    <message>
        <source>退出</source>
        <translation>Exit</translation>
    </message>
    <message>
        <source>（无设备）</source>
        <translation>(no device)</translation>
    </message>
    <message>
        <source>退出程序？退出后停止记录。</source>
        <translation>Exit the program? Recording stops when it exits.</translation>
    </message>
    <message>
        <source>端口关闭</source>
        <translation>Port closed</translation>
    </message>
    <message>
        <source>端口 %1 设备已断开，等待重新连接（%2）</source>
        <translation>Port %1 device disconnected, waiting to reconnect (%2)</translation>
    </message>
    <message>
        <source>端口 %1 已打开（%2）</source>
        <translation>Port %1 open (%2)</translation>
    </message>
    <message>
        <source>端口 %1 未能打开</source>
        <translation>Port %1 could not be opened</translation>
    </message>
    <message>
        <source>  通讯 %1 次，失败 %2 次</source>
        <translation>  %1 exchanges, %2 failed</translation>
    </message>
    <message>
        <source>  仪表无应答 %1 秒</source>
        <translation>  instrument silent for %1 s</translation>
    </message>
    <message>
        <source>  周期 %1 ms</source>
        <translation>  cycle %1 ms</translation>
    </message>
    <message>
        <source>  上次错误：</source>
        <translation>  last error: </translation>
    </message>
    <message>
        <source>  错误：</source>
        <translation>  error: </translation>
    </message>
    <message>
        <source>输入程序号</source>
        <translation>Enter program number</translation>
    </message>
    <message>
        <source>程序号</source>
        <translation>Program number</translation>
    </message>
    <message>
        <source>系统正在初始化数据引擎，请稍后。。。。。。</source>
        <translation>Starting the data engine, please wait…</translation>
    </message>
    <message>
        <source>%1 = %2 已写入</source>
        <translation>%1 = %2 written</translation>
    </message>
    <message>
        <source>%1 = %2 写入失败（%3）</source>
        <translation>%1 = %2 write failed (%3)</translation>
    </message>
    <message>
        <source>不是列表中的选项</source>
        <translation>is no entry of the list</translation>
    </message>
    <message>
        <source>写入状态</source>
        <translation>Write status</translation>
    </message>
    <message>
        <source>程序未运行</source>
        <translation>Program not running</translation>
    </message>
    <message>
        <source>报告已取消</source>
        <translation>Report cancelled</translation>
    </message>
    <message>
        <source>数据库中没有归档的数据</source>
        <translation>The database holds no archived data</translation>
    </message>
    <message>
        <source>回路1：PV1 与 SV1</source>
        <translation>Loop 1: PV1 and SV1</translation>
    </message>
    <message>
        <source>回路2：PV2 与 SV2</source>
        <translation>Loop 2: PV2 and SV2</translation>
    </message>
    <message>
        <source>%1 平均值</source>
        <translation>%1 mean</translation>
    </message>
    <message>
        <source>%1 最小/最大值</source>
        <translation>%1 min/max</translation>
    </message>
    <message>
        <source>容差带</source>
        <translation>Tolerance band</translation>
    </message>
    <message>
        <source>%1 … %2</source>
        <translation>%1 … %2</translation>
    </message>
    <message>
        <source>%1 ± %2</source>
        <translation>%1 ± %2</translation>
    </message>
    <message>
        <source>试验报告</source>
        <translation>Test report</translation>
    </message>
    <message>
        <source>试验名称</source>
        <translation>Test run</translation>
    </message>
    <message>
        <source>委托单号/样品编号</source>
        <translation>Order / sample id</translation>
    </message>
    <message>
        <source>工作站</source>
        <translation>Station</translation>
    </message>
    <message>
        <source>操作员</source>
        <translation>Operator</translation>
    </message>
    <message>
        <source>仪表地址</source>
        <translation>Instrument address</translation>
    </message>
    <message>
        <source>端口</source>
        <translation>Port</translation>
    </message>
    <message>
        <source>开始时间</source>
        <translation>Start time</translation>
    </message>
    <message>
        <source>进行中（报告至 %1）</source>
        <translation>In progress (reported to %1)</translation>
    </message>
    <message>
        <source>持续时间</source>
        <translation>Duration</translation>
    </message>
    <message>
        <source>程序版本</source>
        <translation>Program version</translation>
    </message>
    <message>
        <source>PV1 容差带</source>
        <translation>PV1 tolerance band</translation>
    </message>
    <message>
        <source>PV2 容差带</source>
        <translation>PV2 tolerance band</translation>
    </message>
    <message>
        <source>备注</source>
        <translation>Notes</translation>
    </message>
    <message>
        <source>统计</source>
        <translation>Statistics</translation>
    </message>
    <message>
        <source>%1 至 %2（%3）</source>
        <translation>%1 to %2 (%3)</translation>
    </message>
    <message>
        <source>无</source>
        <translation>None</translation>
    </message>
    <message>
        <source>通道</source>
        <translation>Channel</translation>
    </message>
    <message>
        <source>最小值</source>
        <translation>Minimum</translation>
    </message>
    <message>
        <source>最大值</source>
        <translation>Maximum</translation>
    </message>
    <message>
        <source>平均值</source>
        <translation>Mean</translation>
    </message>
    <message>
        <source>标准差</source>
        <translation>Std. dev.</translation>
    </message>
    <message>
        <source>带内时间 %</source>
        <translation>In band %</translation>
    </message>
    <message>
        <source>带内时间</source>
        <translation>In band</translation>
    </message>
    <message>
        <source>最长超差</source>
        <translation>Longest excursion</translation>
    </message>
    <message>
        <source>此报告不属于试验，没有容差带。</source>
        <translation>This report belongs to no test run and has no tolerance band.</translation>
    </message>
    <message>
        <source>数据完整性</source>
        <translation>Data completeness</translation>
    </message>
    <message>
        <source>应有秒数</source>
        <translation>Seconds expected</translation>
    </message>
    <message>
        <source>已记录秒数</source>
        <translation>Seconds recorded</translation>
    </message>
    <message>
        <source>完整率</source>
        <translation>Complete</translation>
    </message>
    <message>
        <source>记录条数</source>
        <translation>Records</translation>
    </message>
    <message>
        <source>没有超过 %1 秒的数据缺口。</source>
        <translation>No gap in the data longer than %1 s.</translation>
    </message>
    <message>
        <source>超过 %1 秒的数据缺口：%2 处</source>
        <translation>Gaps in the data longer than %1 s: %2</translation>
    </message>
    <message>
        <source>开始</source>
        <translation>Start</translation>
    </message>
    <message>
        <source>时长</source>
        <translation>Length</translation>
    </message>
    <message>
        <source>原因</source>
        <translation>Cause</translation>
    </message>
    <message>
        <source>事件</source>
        <translation>Events</translation>
    </message>
    <message>
        <source>此期间没有事件。</source>
        <translation>No events in this period.</translation>
    </message>
    <message>
        <source>类别</source>
        <translation>Kind</translation>
    </message>
    <message>
        <source>另有 %1 条事件未列出（完整的事件记录可从事件窗口导出）。</source>
        <translation>%1 more events are not listed (the whole event log can be exported from the event log window).</translation>
    </message>
    <message>
        <source>签字</source>
        <translation>Signatures</translation>
    </message>
    <message>
        <source>审核人</source>
        <translation>Reviewed by</translation>
    </message>
    <message>
        <source>日期</source>
        <translation>Date</translation>
    </message>
    <message>
        <source>数据：%1 条记录的 CSV 导出</source>
        <translation>Data: CSV export of %1 records</translation>
    </message>
    <message>
        <source>数据文件：%1（%2 条记录）</source>
        <translation>Data file: %1 (%2 records)</translation>
    </message>
    <message>
        <source>第 %1 页，共 %2 页</source>
        <translation>Page %1 of %2</translation>
    </message>
    <message>
        <source>没有名为“%1”的试验</source>
        <translation>No test run is named “%1”</translation>
    </message>
    <message>
        <source>姓名</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>含义</source>
        <translation>Meaning</translation>
    </message>
    <message>
        <source>执行人</source>
        <translation>Performed by</translation>
    </message>
    <message>
        <source>签名</source>
        <translation>Signature</translation>
    </message>
    <message>
        <source>试验开始：%1</source>
        <translation>Test run started: %1</translation>
    </message>
    <message>
        <source>试验结束：%1</source>
        <translation>Test run ended: %1</translation>
    </message>
    <message>
        <source>已有试验正在进行</source>
        <translation>A test run is already in progress</translation>
    </message>
    <message>
        <source>没有正在进行的试验</source>
        <translation>No test run is in progress</translation>
    </message>
    <message>
        <source>试验</source>
        <translation>Test run</translation>
    </message>
    <message>
        <source>试验 %1</source>
        <translation>Test run %1</translation>
    </message>
    <message>
        <source>新试验</source>
        <translation>New test run</translation>
    </message>
    <message>
        <source>%1 允差方式</source>
        <translation>%1 tolerance type</translation>
    </message>
    <message>
        <source>%1 ± 允差</source>
        <translation>%1 ± tolerance</translation>
    </message>
    <message>
        <source>%1 允差</source>
        <translation>%1 tolerance</translation>
    </message>
    <message>
        <source>%1 下限</source>
        <translation>%1 low limit</translation>
    </message>
    <message>
        <source>%1 上限</source>
        <translation>%1 high limit</translation>
    </message>
    <message>
        <source>程序运行时自动开始，停止时自动结束</source>
        <translation>Start when the program runs, end when it stops</translation>
    </message>
    <message>
        <source>开始试验</source>
        <translation>Start run</translation>
    </message>
    <message>
        <source>结束试验</source>
        <translation>End run</translation>
    </message>
    <message>
        <source>试验状态</source>
        <translation>Test run state</translation>
    </message>
    <message>
        <source>试验记录</source>
        <translation>Test runs</translation>
    </message>
    <message>
        <source>试验列表</source>
        <translation>List of test runs</translation>
    </message>
    <message>
        <source>委托单号</source>
        <translation>Order id</translation>
    </message>
    <message>
        <source>生成报告…</source>
        <translation>Generate report…</translation>
    </message>
    <message>
        <source>报告进度</source>
        <translation>Report progress</translation>
    </message>
    <message>
        <source>报告结果</source>
        <translation>Report outcome</translation>
    </message>
    <message>
        <source>未完成：%1</source>
        <translation>Not done: %1</translation>
    </message>
    <message>
        <source>处理中…</source>
        <translation>Working…</translation>
    </message>
    <message>
        <source>进行中：%1（开始于 %2）</source>
        <translation>In progress: %1 (started %2)</translation>
    </message>
    <message>
        <source>数据库由另一个程序记录，不能开始试验</source>
        <translation>Another program records into the database; no test run can be started</translation>
    </message>
    <message>
        <source>无进行中的试验</source>
        <translation>No test run in progress</translation>
    </message>
    <message>
        <source>进行中</source>
        <translation>In progress</translation>
    </message>
    <message>
        <source>生成报告</source>
        <translation>Generate report</translation>
    </message>
    <message>
        <source>正在生成报告…</source>
        <translation>Generating the report…</translation>
    </message>
    <message>
        <source>报告已生成：%1</source>
        <translation>Report written: %1</translation>
    </message>
    <message>
        <source>报告未生成：%1</source>
        <translation>Report not written: %1</translation>
    </message>
    <message>
        <source>试验名称已被使用：%1</source>
        <translation>Test run name already in use: %1</translation>
    </message>
    <message>
        <source>有 %1 个名为“%2”的试验，无法确定是哪一个</source>
        <translation>%1 test runs are named “%2”; which one is meant cannot be told</translation>
    </message>
    <message>
        <source>该时段没有数据</source>
        <translation>No data in this span</translation>
    </message>
    <message>
        <source>结束时间早于开始时间</source>
        <translation>The end is before the start</translation>
    </message>
    <message>
        <source>主机:端口:地址</source>
        <translation>host:port:address</translation>
    </message>
    <message>
        <source>数据状态</source>
        <translation>Data state</translation>
    </message>
    <message>
        <source>数值过期</source>
        <translation>stale</translation>
    </message>
    <message>
        <source>缺失 %1 秒</source>
        <translation>%1 s missing</translation>
    </message>
    <message>
        <source>缺失 %1 秒：%2</source>
        <translation>%1 s missing: %2</translation>
    </message>
    <message>
        <source>未读到仪表数值，数值过期</source>
        <translation>No values read from the instrument; values stale</translation>
    </message>
    <message>
        <source>另有 %1 秒记录时未读到仪表数值（数值过期），计为缺失。</source>
        <translation>A further %1 s were recorded without values read from the instrument (stale values); they count as missing.</translation>
    </message>
    <message>
        <source>名称只能由字母、数字、“-”和“_”组成（最多 40 个）</source>
        <translation>The name may only have letters, digits, “-” and “_” (at most 40)</translation>
    </message>
    <message>
        <source>名称 %1 已被其他试验箱使用</source>
        <translation>The name %1 is used by another chamber</translation>
    </message>
    <message>
        <source>端口号应为 1 到 20</source>
        <translation>The port number must be 1 to 20</translation>
    </message>
    <message>
        <source>模块地址应为 1 到 247</source>
        <translation>The module address must be 1 to 247</translation>
    </message>
    <message>
        <source>波特率应为 4800、9600 或 19200</source>
        <translation>The baud rate must be 4800, 9600 or 19200</translation>
    </message>
    <message>
        <source>校验位应为 N、O 或 E</source>
        <translation>The parity must be N, O or E</translation>
    </message>
    <message>
        <source>端口 %1 上的地址 %2 已被其他试验箱使用</source>
        <translation>Address %2 on port %1 is used by another chamber</translation>
    </message>
    <message>
        <source>端口 %1 上的试验箱须使用相同的波特率和校验位</source>
        <translation>The chambers on port %1 must use the same baud rate and parity</translation>
    </message>
    <message>
        <source>无通讯</source>
        <translation>No communication</translation>
    </message>
    <message>
        <source>修改试验箱</source>
        <translation>Change chamber</translation>
    </message>
    <message>
        <source>添加试验箱</source>
        <translation>Add chamber</translation>
    </message>
    <message>
        <source>名称</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>校验位</source>
        <translation>Parity</translation>
    </message>
    <message>
        <source>帧间延时（毫秒）</source>
        <translation>Turnaround delay (ms)</translation>
    </message>
    <message>
        <source>等待数据库释放</source>
        <translation>Waiting for the database to be released</translation>
    </message>
    <message>
        <source>试验箱总览</source>
        <translation>Chamber overview</translation>
    </message>
    <message>
        <source>没有试验箱。用“添加”加入一个。</source>
        <translation>No chambers. Use “Add” to add one.</translation>
    </message>
    <message>
        <source>打开试验箱</source>
        <translation>Open chamber</translation>
    </message>
    <message>
        <source>添加</source>
        <translation>Add</translation>
    </message>
    <message>
        <source>修改</source>
        <translation>Change</translation>
    </message>
    <message>
        <source>删除</source>
        <translation>Delete</translation>
    </message>
    <message>
        <source>删除试验箱 %1？其数据库文件保留。</source>
        <translation>Delete chamber %1? Its database file is kept.</translation>
    </message>
    <message>
        <source>%1 第 %2 段</source>
        <translation>%1, segment %2</translation>
    </message>
    <message>
        <source>无试验</source>
        <translation>No run</translation>
    </message>
    <message>
        <source>试验：%1</source>
        <translation>Run: %1</translation>
    </message>
    <message>
        <source>通讯正常</source>
        <translation>Communication OK</translation>
    </message>
    <message>
        <source>两次输入的密码不一致</source>
        <translation>The two passwords differ</translation>
    </message>
    <message>
        <source>会话已锁定，请输入密码解锁</source>
        <translation>Session locked: enter the password to unlock</translation>
    </message>
    <message>
        <source>再次输入密码：</source>
        <translation>Password again: </translation>
    </message>
    <message>
        <source>密码已过期或须更改，请设置新密码</source>
        <translation>The password has expired or must be changed: set a new one</translation>
    </message>
    <message>
        <source>密码至少需要 %1 个字符</source>
        <translation>The password needs at least %1 characters</translation>
    </message>
    <message>
        <source>密码：</source>
        <translation>Password: </translation>
    </message>
    <message>
        <source>已创建管理员 %1，访问控制已开启</source>
        <translation>Administrator %1 created, access control on</translation>
    </message>
    <message>
        <source>新密码不能与最近 %1 次的密码相同</source>
        <translation>The new password may not be one of the last %1</translation>
    </message>
    <message>
        <source>标准输入没有提供两次密码</source>
        <translation>Standard input did not give the password twice</translation>
    </message>
    <message>
        <source>标准输入没有提供密码</source>
        <translation>Standard input did not give a password</translation>
    </message>
    <message>
        <source>没有此用户</source>
        <translation>No such user</translation>
    </message>
    <message>
        <source>用户名和姓名不能为空</source>
        <translation>User id and full name may not be empty</translation>
    </message>
    <message>
        <source>用户已存在</source>
        <translation>The user exists already</translation>
    </message>
    <message>
        <source>用户库 %1 无法使用：%2</source>
        <translation>User store %1 cannot be used: %2</translation>
    </message>
    <message>
        <source>用户库中没有账户，请先用 --create-admin 创建管理员</source>
        <translation>The user store has no account: create the administrator with --create-admin first</translation>
    </message>
    <message>
        <source>用户库已有账户，不能再创建第一个管理员</source>
        <translation>The user store has accounts already: no first administrator can be made</translation>
    </message>
    <message>
        <source>用户库无法使用</source>
        <translation>The user store cannot be used</translation>
    </message>
    <message>
        <source>用户库无法使用，任何人都不能修改</source>
        <translation>The user store cannot be used: nobody may change anything</translation>
    </message>
    <message>
        <source>管理员 %1 的密码：</source>
        <translation>Password of administrator %1: </translation>
    </message>
    <message>
        <source>访问控制已关闭</source>
        <translation>Access control off</translation>
    </message>
    <message>
        <source>访问控制已开启</source>
        <translation>Access control on</translation>
    </message>
    <message>
        <source>请先登录</source>
        <translation>Log in first</translation>
    </message>
    <message>
        <source>账户已锁定，请管理员解锁</source>
        <translation>Account locked: an administrator unlocks it</translation>
    </message>
    <message>
        <source>需要%1权限</source>
        <translation>Needs the %1 role</translation>
    </message>
    <message>
        <source>需要管理员权限</source>
        <translation>Needs an administrator</translation>
    </message>
    <message>
        <source>查看员</source>
        <translation>Viewer</translation>
    </message>
    <message>
        <source>主管</source>
        <translation>Supervisor</translation>
    </message>
    <message>
        <source>管理员</source>
        <translation>Administrator</translation>
    </message>
    <message>
        <source>不能停用或降级最后一个管理员</source>
        <translation>The last administrator cannot be disabled or given another role</translation>
    </message>
    <message>
        <source>登录</source>
        <translation>Log in</translation>
    </message>
    <message>
        <source>用户名</source>
        <translation>User ID</translation>
    </message>
    <message>
        <source>正在验证…</source>
        <translation>Checking…</translation>
    </message>
    <message>
        <source>修改密码</source>
        <translation>Change password</translation>
    </message>
    <message>
        <source>旧密码</source>
        <translation>Old password</translation>
    </message>
    <message>
        <source>新密码</source>
        <translation>New password</translation>
    </message>
    <message>
        <source>再次输入新密码</source>
        <translation>New password again</translation>
    </message>
    <message>
        <source>会话已锁定</source>
        <translation>Session locked</translation>
    </message>
    <message>
        <source>解锁</source>
        <translation>Unlock</translation>
    </message>
    <message>
        <source>注销</source>
        <translation>Log out</translation>
    </message>
    <message>
        <source>%1 的会话已锁定，请输入密码解锁</source>
        <translation>The session of %1 is locked; enter the password to unlock it</translation>
    </message>
    <message>
        <source>用户：%1（%2，%3）</source>
        <translation>User: %1 (%2, %3)</translation>
    </message>
    <message>
        <source>未登录</source>
        <translation>Nobody logged in</translation>
    </message>
    <message>
        <source>审计审阅…</source>
        <translation>Audit review…</translation>
    </message>
    <message>
        <source>完好：%1 条事件记录，%2 小时的存档样本</source>
        <translation>Intact: %1 event rows, %2 hours of archived samples</translation>
    </message>
    <message>
        <source>已被更改：事件记录第 %1 行起</source>
        <translation>Changed: from event row %1</translation>
    </message>
    <message>
        <source>已被更改：%1 起一小时的存档样本</source>
        <translation>Changed: the hour of archived samples from %1</translation>
    </message>
    <message>
        <source>访问控制未开启：此报告生成时未要求登录，操作人员身份未经核实</source>
        <translation>Access control off: no login was required when this report was made; who operated was not verified</translation>
    </message>
    <message>
        <source>用户库无法读取：此报告生成时访问控制的状态未知</source>
        <translation>User store unreadable: whether access control was on when this report was made is unknown</translation>
    </message>
    <message>
        <source>此时段内访问控制还有其他关闭时段</source>
        <translation>Access control was also off at other times in this span</translation>
    </message>
    <message>
        <source>此时段内访问控制曾关闭：%1 至 %2</source>
        <translation>Access control was off in this span: %1 to %2</translation>
    </message>
    <message>
        <source>电子签名</source>
        <translation>Electronic signatures</translation>
    </message>
    <message>
        <source>另有 %1 个签名</source>
        <translation>%1 more signatures</translation>
    </message>
    <message>
        <source>%1（用户 %2）  含义：%3  时间：%4</source>
        <translation>%1 (user %2)  Meaning: %3  Time: %4</translation>
    </message>
    <message>
        <source>警告：数据与签名时不一致，签名后数据已被更改</source>
        <translation>Warning: the data differ from those signed; they were changed after signing</translation>
    </message>
    <message>
        <source>数据与签名时一致（SHA-256 %1）</source>
        <translation>The data are as signed (SHA-256 %1)</translation>
    </message>
    <message>
        <source>其中 %1 个签名由旧版程序按英文报告的列名计算摘要，核对一致</source>
        <translation>%1 of them were digested by an earlier version over an English report&apos;s column names: as signed</translation>
    </message>
    <message>
        <source>审计追踪审阅</source>
        <translation>Audit trail review</translation>
    </message>
    <message>
        <source>时段</source>
        <translation>Span</translation>
    </message>
    <message>
        <source>完整性校验</source>
        <translation>Integrity check</translation>
    </message>
    <message>
        <source>另有 %1 条事件未列出，完整的记录见同名 CSV 文件。</source>
        <translation>%1 more events not listed; the CSV file of the same name holds them all.</translation>
    </message>
    <message>
        <source>%1 已签名：%2（%3，%4）</source>
        <translation>%1 signed: %2 (%3, %4)</translation>
    </message>
    <message>
        <source>执行</source>
        <translation>Performed</translation>
    </message>
    <message>
        <source>审核</source>
        <translation>Reviewed</translation>
    </message>
    <message>
        <source>批准</source>
        <translation>Approved</translation>
    </message>
    <message>
        <source>试验尚未结束，不能签名</source>
        <translation>The run has not ended; it cannot be signed</translation>
    </message>
    <message>
        <source>尚未审核，不能批准</source>
        <translation>Not reviewed yet; it cannot be approved</translation>
    </message>
    <message>
        <source>试验已签名，不能更改或删除</source>
        <translation>The run is signed; it cannot be changed or deleted</translation>
    </message>
    <message>
        <source>访问控制未开启，不能签名</source>
        <translation>Access control is off; nothing can be signed</translation>
    </message>
    <message>
        <source>没有此已结束的试验</source>
        <translation>No such ended run</translation>
    </message>
    <message>
        <source>已签名</source>
        <translation>Signed</translation>
    </message>
    <message>
        <source>正在生成审计审阅…</source>
        <translation>Making the audit review…</translation>
    </message>
    <message>
        <source>审计审阅已生成：%1</source>
        <translation>Audit review written: %1</translation>
    </message>
    <message>
        <source>审计审阅未生成：%1</source>
        <translation>Audit review not written: %1</translation>
    </message>
    <message>
        <source>审计审阅</source>
        <translation>Audit review</translation>
    </message>
    <message>
        <source>审计追踪审阅：%1 至 %2</source>
        <translation>Audit trail review: %1 to %2</translation>
    </message>
    <message>
        <source>用户 %1 的密码：</source>
        <translation>Password of user %1: </translation>
    </message>
    <message>
        <source>签名含义无效</source>
        <translation>Not a meaning of a signature</translation>
    </message>
    <message>
        <source>请登录后查看</source>
        <translation>Log in to see the values</translation>
    </message>
    <message>
        <source>未知用户</source>
        <translation>unknown user</translation>
    </message>
    <message>
        <source>账户 %1</source>
        <translation>account %1</translation>
    </message>
    <message>
        <source>事件记录第 %1 行</source>
        <translation>event log row %1</translation>
    </message>
    <message>
        <source>%1 起一小时的存档样本</source>
        <translation>the archived samples of the hour from %1</translation>
    </message>
    <message>
        <source>登录失败</source>
        <translation>Failed login</translation>
    </message>
    <message>
        <source>完整性校验失败</source>
        <translation>Integrity check failed</translation>
    </message>
    <message>
        <source>请确认是否有人试图使用他人的账户登录。</source>
        <translation>Check whether someone tried to log in with another person&apos;s account.</translation>
    </message>
    <message>
        <source>记录在程序之外被更改：请用 velmars --verify 核对并通知质量负责人。</source>
        <translation>Records were changed outside the program: check with velmars --verify and tell the quality manager.</translation>
    </message>
    <message>
        <source>审计</source>
        <translation>Audit</translation>
    </message>
    <message>
        <source>访问控制</source>
        <translation>Access control</translation>
    </message>
    <message>
        <source>密码有效期（天）</source>
        <translation>Password expiry (days)</translation>
    </message>
    <message>
        <source>空闲锁定（分钟）</source>
        <translation>Idle lock (minutes)</translation>
    </message>
    <message>
        <source>修改原因列表</source>
        <translation>Reasons for change</translation>
    </message>
    <message>
        <source>%1 登录</source>
        <translation>%1 logged in</translation>
    </message>
    <message>
        <source>%1 登录（须修改密码）</source>
        <translation>%1 logged in (must change the password)</translation>
    </message>
    <message>
        <source>%1 注销</source>
        <translation>%1 logged out</translation>
    </message>
    <message>
        <source>%1 的会话因空闲已锁定</source>
        <translation>%1&apos;s session locked after idle time</translation>
    </message>
    <message>
        <source>%1 解锁会话</source>
        <translation>%1 unlocked the session</translation>
    </message>
    <message>
        <source>%1 修改了自己的密码</source>
        <translation>%1 changed their own password</translation>
    </message>
    <message>
        <source>账户 %1 连续登录失败，已锁定</source>
        <translation>Account %1 locked after failed logins in a row</translation>
    </message>
    <message>
        <source>%1 停用账户 %2</source>
        <translation>%1 disabled account %2</translation>
    </message>
    <message>
        <source>%1 启用账户 %2</source>
        <translation>%1 enabled account %2</translation>
    </message>
    <message>
        <source>%1 重置账户 %2 的密码</source>
        <translation>%1 reset the password of account %2</translation>
    </message>
    <message>
        <source>%1 解锁账户 %2</source>
        <translation>%1 unlocked account %2</translation>
    </message>
    <message>
        <source>程序启动</source>
        <translation>Program started</translation>
    </message>
    <message>
        <source>程序退出</source>
        <translation>Program ended</translation>
    </message>
    <message>
        <source>记录 CSV</source>
        <translation>records CSV</translation>
    </message>
    <message>
        <source>事件记录 CSV</source>
        <translation>event log CSV</translation>
    </message>
    <message>
        <source>曲线 PDF</source>
        <translation>chart PDF</translation>
    </message>
    <message>
        <source>曲线 PNG</source>
        <translation>chart PNG</translation>
    </message>
    <message>
        <source>登录失败：未知用户</source>
        <translation>Failed login: unknown user</translation>
    </message>
    <message>
        <source>登录失败：%1</source>
        <translation>Failed login: %1</translation>
    </message>
    <message>
        <source>%1 创建账户 %2（%3，%4）</source>
        <translation>%1 created account %2 (%3, %4)</translation>
    </message>
    <message>
        <source>%1 修改账户 %2：%3 → %4，%5 → %6</source>
        <translation>%1 changed account %2: %3 → %4, %5 → %6</translation>
    </message>
    <message>
        <source>%1 开启访问控制</source>
        <translation>%1 switched access control on</translation>
    </message>
    <message>
        <source>%1 关闭访问控制</source>
        <translation>%1 switched access control off</translation>
    </message>
    <message>
        <source>%1 修改设置 %2：%3 → %4</source>
        <translation>%1 changed setting %2: %3 → %4</translation>
    </message>
    <message>
        <source>%1 导出 %2：%3</source>
        <translation>%1 exported %2: %3</translation>
    </message>
    <message>
        <source>系统时钟跳变 %1 秒：%2 → %3</source>
        <translation>System clock jumped %1 s: %2 → %3</translation>
    </message>
    <message>
        <source>已停用</source>
        <translation>Disabled</translation>
    </message>
    <message>
        <source>已锁定</source>
        <translation>Locked</translation>
    </message>
    <message>
        <source>须修改密码</source>
        <translation>Must change password</translation>
    </message>
    <message>
        <source>已过期</source>
        <translation>Expired</translation>
    </message>
    <message>
        <source>第一个管理员</source>
        <translation>First administrator</translation>
    </message>
    <message>
        <source>创建管理员并开启访问控制</source>
        <translation>Create the administrator and switch access control on</translation>
    </message>
    <message>
        <source>再次输入密码</source>
        <translation>Password again</translation>
    </message>
    <message>
        <source>开启访问控制</source>
        <translation>Switch access control on</translation>
    </message>
    <message>
        <source>账户</source>
        <translation>Accounts</translation>
    </message>
    <message>
        <source>角色</source>
        <translation>Role</translation>
    </message>
    <message>
        <source>添加账户</source>
        <translation>Add account</translation>
    </message>
    <message>
        <source>初始密码</source>
        <translation>Initial password</translation>
    </message>
    <message>
        <source>修改角色</source>
        <translation>Change role</translation>
    </message>
    <message>
        <source>停用</source>
        <translation>Disable</translation>
    </message>
    <message>
        <source>重置密码</source>
        <translation>Reset password</translation>
    </message>
    <message>
        <source>永不过期</source>
        <translation>Never expire</translation>
    </message>
    <message>
        <source>不锁定</source>
        <translation>Never lock</translation>
    </message>
    <message>
        <source>保存设置</source>
        <translation>Save settings</translation>
    </message>
    <message>
        <source>关闭访问控制</source>
        <translation>Switch access control off</translation>
    </message>
    <message>
        <source>访问控制已开启，请登录</source>
        <translation>Access control is on: please log in</translation>
    </message>
    <message>
        <source>已添加账户 %1，首次登录须修改密码</source>
        <translation>Account %1 added: the password must be changed at the first login</translation>
    </message>
    <message>
        <source>启用</source>
        <translation>Enable</translation>
    </message>
    <message>
        <source>已修改账户 %1</source>
        <translation>Account %1 changed</translation>
    </message>
    <message>
        <source>已启用账户 %1</source>
        <translation>Account %1 enabled</translation>
    </message>
    <message>
        <source>已停用账户 %1</source>
        <translation>Account %1 disabled</translation>
    </message>
    <message>
        <source>已解锁账户 %1</source>
        <translation>Account %1 unlocked</translation>
    </message>
    <message>
        <source>已重置账户 %1 的密码，下次登录须修改</source>
        <translation>Password of account %1 reset: it must be changed at the next login</translation>
    </message>
    <message>
        <source>设置已保存</source>
        <translation>Settings saved</translation>
    </message>
    <message>
        <source>正在处理…</source>
        <translation>Working…</translation>
    </message>
    <message>
        <source>变更原因列表</source>
        <translation>Reasons for change</translation>
    </message>
    <message>
        <source>上移</source>
        <translation>Move up</translation>
    </message>
    <message>
        <source>下移</source>
        <translation>Move down</translation>
    </message>
    <message>
        <source>变更原因</source>
        <translation>Reason for change</translation>
    </message>
    <message>
        <source>%1 → %2（未发送：%3）</source>
        <translation>%1 → %2 (not sent: %3)</translation>
    </message>
    <message>
        <source>,用户,原值,新值,变更原因,时间（含时区）</source>
        <translation>,User,Old value,New value,Reason for change,Time (with UTC offset)</translation>
    </message>
    <message>
        <source>用户</source>
        <translation>User</translation>
    </message>
    <message>
        <source>原值</source>
        <translation>Old value</translation>
    </message>
    <message>
        <source>新值</source>
        <translation>New value</translation>
    </message>
    <message>
        <source>未填写变更原因</source>
        <translation>no reason for the change given</translation>
    </message>
    <message>
        <source>报警通知设置已更改</source>
        <translation>Alert notification settings changed</translation>
    </message>
    <message>
        <source>报警通知设置未更改：%1</source>
        <translation>Alert notification settings not changed: %1</translation>
    </message>
    <message>
        <source>%1 添加试验箱 %2（%3）</source>
        <translation>%1 added chamber %2 (%3)</translation>
    </message>
    <message>
        <source>%1 修改试验箱 %2：%3 → %4</source>
        <translation>%1 changed chamber %2: %3 → %4</translation>
    </message>
    <message>
        <source>%1 删除试验箱 %2（%3），数据库保留</source>
        <translation>%1 deleted chamber %2 (%3), database kept</translation>
    </message>
    <message>
        <source>%1 修改端口 %2 的帧间隔：%3 → %4 毫秒</source>
        <translation>%1 changed the pause between frames on port %2: %3 → %4 ms</translation>
    </message>
    <message>
        <source>命令行</source>
        <translation>command line</translation>
    </message>
    <message>
        <source>修改试验箱 %1</source>
        <translation>Change chamber %1</translation>
    </message>
    <message>
        <source>添加试验箱 %1</source>
        <translation>Add chamber %1</translation>
    </message>
    <message>
        <source>删除试验箱 %1</source>
        <translation>Delete chamber %1</translation>
    </message>
    <message>
        <source>通讯设置 = %1</source>
        <translation>Line settings = %1</translation>
    </message>
    <message>
        <source>%1 从命令行修改设置 %2：%3 → %4</source>
        <translation>%1 changed setting %2 from the command line: %3 → %4</translation>
    </message>
    <message>
        <source>访问控制已开启：从命令行修改设置须给出管理员（--user）和原因（--reason），密码从标准输入读取</source>
        <translation>Access control is on: settings changed on the command line need an administrator (--user) and a reason (--reason); the password is read from standard input</translation>
    </message>
    <message>
        <source>密码不能只有空格，也不能由用户名重复组成</source>
        <translation>A password may not be only blanks, nor the user name repeated</translation>
    </message>
    <message>
        <source>最后一个管理员账户 %1 的锁定已到期，自动解除</source>
        <translation>The lock of %1, the last administrator account, ran out and ended by itself</translation>
    </message>
    <message>
        <source>%1 的会话已结束：账户已停用、锁定或删除</source>
        <translation>Session of %1 ended: the account was disabled, locked or deleted</translation>
    </message>
    <message>
        <source>审核人可兼任批准人</source>
        <translation>The reviewer may also approve</translation>
    </message>
    <message>
        <source>%1 签名前核对密码</source>
        <translation>%1 password checked for a signature</translation>
    </message>
    <message>
        <source>%1 已以“%2”签过名</source>
        <translation>%1 has already signed as “%2”</translation>
    </message>
    <message>
        <source>同一人不能既审核又批准</source>
        <translation>One person may not both review and approve</translation>
    </message>
    <message>
        <source>电脑时钟早于 %1，不能签名</source>
        <translation>The PC&apos;s clock is before %1: cannot sign</translation>
    </message>
    <message>
        <source>%1 次，最近一次：%2</source>
        <translation>%1 times, the last: %2</translation>
    </message>
    <message>
        <source>时间（含时区）</source>
        <translation>Time (with UTC offset)</translation>
    </message>
    <message>
        <source>访问控制已开启：从命令行导出记录须给出用户（--user），密码从标准输入读取</source>
        <translation>Access control is on: records taken out from the command line need a user (--user), with the password on standard input</translation>
    </message>
    <message>
        <source>设备已断开（%2），%1 秒无应答</source>
        <translation>device disconnected (%2), no answer for %1 s</translation>
    </message>
    <message>
        <source>%1 → %2（地址 %3）</source>
        <translation>%1 → %2 (address %3)</translation>
    </message>
    <message>
        <source>%1 → %2（地址 %4，失败：%3）</source>
        <translation>%1 → %2 (address %4, failed: %3)</translation>
    </message>
    <message>
        <source>%1 → %2（地址 %4，未发送：%3）</source>
        <translation>%1 → %2 (address %4, not sent: %3)</translation>
    </message>
    <message>
        <source>%1段</source>
        <translation>%1 segments</translation>
    </message>
    <message>
        <source>删除试验箱 %1？试验“%2”正在进行，删除后不再记录。其数据库文件保留。</source>
        <translation>Delete chamber %1? Test run “%2” is going on and will no longer be recorded. Its database file is kept.</translation>
    </message>
    <message>
        <source>%1 于 %2 将已签名的数据交由保留期限删除，原因：%3</source>
        <translation>%1 released the signed data to retention on %2, reason: %3</translation>
    </message>
    <message>
        <source>%1 已签名的数据由 %2 交由保留期限删除</source>
        <translation>%1: signed data released to retention by %2</translation>
    </message>
    <message>
        <source>须给出原因</source>
        <translation>A reason is needed</translation>
    </message>
    <message>
        <source>%1 没有签名，保留期限本可删除</source>
        <translation>%1 is not signed: retention may drop it already</translation>
    </message>
    <message>
        <source>%1 已由 %2 交由保留期限删除</source>
        <translation>%1 was released to retention by %2 already</translation>
    </message>
    <message>
        <source>%1 已签名的数据已交由保留期限删除</source>
        <translation>%1: the signed data are released to retention</translation>
    </message>
    <message>
        <source>服务已启动</source>
        <translation>Service started</translation>
    </message>
    <message>
        <source>服务已停止</source>
        <translation>Service stopped</translation>
    </message>
    <message>
        <source>上次运行未正常结束</source>
        <translation>The last run did not end normally</translation>
    </message>
    <message>
        <source>无法连接服务器</source>
        <translation>cannot reach the broker</translation>
    </message>
    <message>
        <source>服务器拒绝登录 (用户名、密码或权限)</source>
        <translation>the broker refused the login (user, password or rights)</translation>
    </message>
    <message>
        <source>TLS 证书不符或握手失败</source>
        <translation>TLS certificate does not match or handshake failed</translation>
    </message>
    <message>
        <source>连接中断</source>
        <translation>connection lost</translation>
    </message>
    <message>
        <source>服务器不接受协议或客户端标识</source>
        <translation>the broker refused the protocol or client id</translation>
    </message>
    <message>
        <source>MQTT: 已连接 %1 (%2 条待发)</source>
        <translation>MQTT: connected to %1 (%2 to send)</translation>
    </message>
    <message>
        <source>MQTT: 已连接 %1</source>
        <translation>MQTT: connected to %1</translation>
    </message>
    <message>
        <source>MQTT: 正在连接 %1</source>
        <translation>MQTT: connecting to %1</translation>
    </message>
    <message>
        <source>MQTT: 未连接 %1: %2 (%3 条待发)</source>
        <translation>MQTT: not connected to %1: %2 (%3 to send)</translation>
    </message>
    <message>
        <source>MQTT 状态</source>
        <translation>MQTT status</translation>
    </message>
    <message>
        <source>MQTT 用户名：</source>
        <translation>MQTT user: </translation>
    </message>
    <message>
        <source>MQTT 密码：</source>
        <translation>MQTT password: </translation>
    </message>
    <message>
        <source>关于</source>
        <translation>About</translation>
    </message>
    <message>
        <source>自由软件：您可以按自由软件基金会发布的 GNU 通用公共许可证第 3 版或（由您选择）任何更新版本（GPL-3.0-or-later）再发布和修改它。本程序不提供任何担保。许可证全文见随程序附带的 LICENSE 文件。</source>
        <translation>Free software: you can redistribute it and/or modify it under the terms of the GNU General Public License as published by the Free Software Foundation, either version 3 of the License or (at your option) any later version (GPL-3.0-or-later). This program comes with no warranty. The LICENSE file shipped with the program holds the licence&apos;s full text.</translation>
    </message>
    <message>
        <source>本程序使用以下软件，各按其许可证：</source>
        <translation>This program uses the following software, each under its own licence:</translation>
    </message>
    <message>
        <source>组件</source>
        <translation>Component</translation>
    </message>
    <message>
        <source>许可证</source>
        <translation>Licence</translation>
    </message>
    <message>
        <source>记录未受保护（未安装服务）</source>
        <translation>Records not protected (no service installed)</translation>
    </message>
    <message>
        <source>本程序在当前账户下自行记录：能登录这台电脑的人可以改写记录文件。安装并启用服务后，记录由服务的账户保存。</source>
        <translation>This program records under the current account: anyone who can log in to this PC can rewrite the record files. Install and enable the service to have the records kept by the service&apos;s account.</translation>
    </message>
    <message>
        <source>记录未受保护：本账户可以改写此文件</source>
        <translation>records not protected: this account can rewrite the file</translation>
    </message>
    <message>
        <source>记录未受保护：生成此报告的账户可以改写记录文件（未安装服务）</source>
        <translation>Records not protected: the account this report was made under can rewrite the record files (no service installed)</translation>
    </message>
    <message>
        <source>完整性校验失败：文件短于服务保存的记录（最新记录或表被删除，或换回了旧副本）</source>
        <translation>Integrity check failed: the file holds less than the service&apos;s record (newest records or a table deleted, or an older copy put back)</translation>
    </message>
    <message>
        <source>没有哈希链密钥 %1</source>
        <translation>no hash chain key %1</translation>
    </message>
    <message>
        <source>无法读取哈希链密钥 %1</source>
        <translation>cannot read the hash chain key %1</translation>
    </message>
    <message>
        <source>哈希链密钥 %1 已损坏（长度不对）</source>
        <translation>the hash chain key %1 is damaged (wrong length)</translation>
    </message>
    <message>
        <source>无法创建哈希链密钥 %1</source>
        <translation>cannot make the hash chain key %1</translation>
    </message>
    <message>
        <source>未能核对：这些记录以服务的密钥链接，本账户无法读取该密钥</source>
        <translation>not checked: these records are linked with the service&apos;s key, which this account cannot read</translation>
    </message>
    <message>
        <source>%1 导出 %2 被拒绝：%3（%4）</source>
        <translation>%1 was refused the export of %2: %3 (%4)</translation>
    </message>
    <message>
        <source>未导出：%1</source>
        <translation>Not exported: %1</translation>
    </message>
    <message>
        <source>试验尚未就绪</source>
        <translation>Runs are not ready yet</translation>
    </message>
    <message>
        <source>无效的文件名</source>
        <translation>Invalid file name</translation>
    </message>
    <message>
        <source>试验箱已移除</source>
        <translation>The chamber was removed</translation>
    </message>
    <message>
        <source>未保存</source>
        <translation>Not saved</translation>
    </message>
    <message>
        <source>服务忙，请稍后重试</source>
        <translation>the service is busy, try again shortly</translation>
    </message>
    <message>
        <source>开始试验：%1</source>
        <translation>Start run: %1</translation>
    </message>
</context>
</TS>
