// Morvane's window list inside KWin. The Morvane process that loads this
// script learns of KWin's toplevel windows from it: the whole list at the
// start, then every window that opens or closes and every new title, each
// as one JSON text handed to the process's Event(s) method. The process
// fills in `config` before loading: its bus name, object, interface, the
// name this script is loaded under, a token that marks this load's events,
// and how often to check that the process still lives.
var config = @CONFIG@;

// KWin 6 names its window API window*, KWin 5 client*.
var listWindows = workspace.windowList ? function () { return workspace.windowList(); }
                                       : function () { return workspace.clientList(); };
var windowAdded = workspace.windowAdded || workspace.clientAdded;
var windowRemoved = workspace.windowRemoved || workspace.clientRemoved;

function send(event) {
    event.k = config.token;
    callDBus(config.service, config.path, config.iface, "Event", JSON.stringify(event));
}

// KWin 6 also reports override-redirect X11 windows (not managed) and
// popups (menus, tooltips); KWin 5 has no popupWindow and lists neither.
function isToplevel(w) {
    return w.managed !== false && !w.popupWindow;
}

// The client's own title. KWin 6 keeps it in captionNormal; KWin 5 offers
// only the caption it shows, where a window whose title another window has
// already got carries " <2>", " <3>", ... and a left-to-right mark.
function titleOf(w) {
    if (w.captionNormal !== undefined) return String(w.captionNormal);
    return String(w.caption).replace(/ <\d+>\u200e$/, "");
}

function keyOf(w) {
    return String(w.internalId);
}

function watch(w) {
    w.captionChanged.connect(function () {
        send({e: "title", id: keyOf(w), t: titleOf(w)});
    });
}

windowAdded.connect(function (w) {
    if (!isToplevel(w)) return;
    watch(w);
    send({e: "open", id: keyOf(w), t: titleOf(w)});
});
windowRemoved.connect(function (w) {
    if (isToplevel(w)) send({e: "close", id: keyOf(w)});
});

var all = listWindows();
var list = [];
for (var i = 0; i < all.length; ++i) {
    if (!isToplevel(all[i])) continue;
    watch(all[i]);
    list.push([keyOf(all[i]), titleOf(all[i])]);
}
send({e: "list", w: list});

// A process that ends without unloading the script (killed, crashed)
// leaves it behind: it unloads itself once the process's bus name is gone.
var watchdog = new QTimer();
watchdog.interval = config.watchdogMs;
watchdog.timeout.connect(function () {
    callDBus("org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "NameHasOwner",
             config.service, function (present) {
        if (present) return;
        watchdog.stop();
        callDBus("org.kde.KWin", "/Scripting", "org.kde.kwin.Scripting", "unloadScript", config.plugin);
    });
});
watchdog.start();
