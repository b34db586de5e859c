// Morvane's window list in GNOME Shell: the ids and titles of the desktop's
// toplevel windows, native Wayland and XWayland alike, on the session bus,
// read-only. Morvane watches its connection's status window through it.
//
//   name org.morvane.WindowList, object /org/morvane/WindowList
//   org.morvane.WindowList1.GetWindows() -> a(ts)   id and title of each window
//   signals WindowOpened(t id, s title), TitleChanged(t id, s title),
//           WindowClosed(t id)
//
// A native window opens untitled and gets its title a moment later in
// TitleChanged. Menus, tooltips and other popups are not listed. Nothing
// else about a window leaves the shell: every program of the user on the
// session bus can read what is published here.
const WINDOW_LIST_NAME = 'org.morvane.WindowList';
const WINDOW_LIST_PATH = '/org/morvane/WindowList';
const WINDOW_LIST_XML = `<node>
  <interface name="org.morvane.WindowList1">
    <method name="GetWindows"><arg type="a(ts)" direction="out" name="windows"/></method>
    <signal name="WindowOpened"><arg type="t" name="id"/><arg type="s" name="title"/></signal>
    <signal name="TitleChanged"><arg type="t" name="id"/><arg type="s" name="title"/></signal>
    <signal name="WindowClosed"><arg type="t" name="id"/></signal>
  </interface>
</node>`;
const POPUP_TYPES = [
    Meta.WindowType.DROPDOWN_MENU, Meta.WindowType.POPUP_MENU, Meta.WindowType.TOOLTIP,
    Meta.WindowType.NOTIFICATION, Meta.WindowType.COMBO, Meta.WindowType.DND,
];

class WindowListService {
    constructor() {
        this._windows = new Map();   // Meta.Window -> its signal handler ids
        this._object = Gio.DBusExportedObject.wrapJSObject(WINDOW_LIST_XML, this);
    }

    GetWindows() {
        return [...this._windows.keys()].map(w => [w.get_id(), w.get_title() ?? '']);
    }

    _emit(signal, w, withTitle) {
        const args = withTitle ? new GLib.Variant('(ts)', [w.get_id(), w.get_title() ?? ''])
            : new GLib.Variant('(t)', [w.get_id()]);
        this._object.emit_signal(signal, args);
    }

    _track(w, announce) {
        if (this._windows.has(w) || w.is_override_redirect() || POPUP_TYPES.includes(w.get_window_type()))
            return;
        this._windows.set(w, [
            w.connect('notify::title', () => this._emit('TitleChanged', w, true)),
            w.connect('unmanaged', () => this._untrack(w)),
        ]);
        if (announce)
            this._emit('WindowOpened', w, true);
    }

    // The list must be the shell's own even where a window's 'unmanaged'
    // or the display's 'window-created' was never seen (a window gone while
    // the shell was busy with a burst of them): after the stack changed, the
    // windows the display no longer has are closed and those it has but the
    // list lacks are opened, once per idle moment.
    _reconcileSoon() {
        if (this._reconcileId)
            return;
        this._reconcileId = GLib.idle_add(GLib.PRIORITY_LOW, () => {
            this._reconcileId = 0;
            const present = new Set(global.display.list_all_windows());
            for (const w of [...this._windows.keys()]) {
                if (!present.has(w))
                    this._untrack(w);
            }
            for (const w of present)
                this._track(w, true);
            return GLib.SOURCE_REMOVE;
        });
    }

    _untrack(w) {
        const handlers = this._windows.get(w);
        if (!handlers)
            return;
        handlers.forEach(id => w.disconnect(id));
        this._windows.delete(w);
        this._emit('WindowClosed', w, false);
    }

    start() {
        for (const w of global.display.list_all_windows())
            this._track(w, false);
        this._createdId = global.display.connect('window-created', (_display, w) => this._track(w, true));
        this._restackedId = global.display.connect('restacked', () => this._reconcileSoon());
        this._object.export(Gio.DBus.session, WINDOW_LIST_PATH);
        this._nameId = Gio.bus_own_name_on_connection(Gio.DBus.session, WINDOW_LIST_NAME,
            Gio.BusNameOwnerFlags.NONE, null, null);
    }

    stop() {
        Gio.bus_unown_name(this._nameId);
        this._object.unexport();
        global.display.disconnect(this._createdId);
        global.display.disconnect(this._restackedId);
        if (this._reconcileId)
            GLib.source_remove(this._reconcileId);
        this._reconcileId = 0;
        for (const [w, handlers] of this._windows)
            handlers.forEach(id => w.disconnect(id));
        this._windows.clear();
    }
}
