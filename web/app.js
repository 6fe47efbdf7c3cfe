// The page's logic. Every conversion is the command-line converter's own,
// compiled to WebAssembly: its main is called with the options the form
// gives, on files held in the module's memory, so that the page writes the
// same bytes as qelda-convert. Nothing is sent anywhere.
"use strict";
(() => {
  const $ = (id) => document.getElementById(id);
  const form = $("options");
  const results = $("results");
  const files = []; // {name, bytes, card, outputs: [{name, bytes}]}
  let qelda = null;
  let lines = { out: [], err: [] };

  // One run of qelda-convert: its exit status and the lines it printed.
  function run(args) {
    lines = { out: [], err: [] };
    let status;
    try {
      status = qelda.callMain(args);
    } catch (e) {
      status = typeof e === "object" && e && "status" in e ? e.status : 70;
      if (status === 70) lines.err.push(String(e));
    }
    return { status, out: lines.out, err: lines.err };
  }

  // What the converter says, without its name in front.
  const said = (line) => line.replace(/^qelda-convert: /, "");

  // The options of the form, each only when it differs from the default, so
  // that an untouched form converts as qelda-convert does without options.
  // Returns null (and marks the fields) when a value is not a number.
  function options() {
    const f = form.elements;
    const args = [];
    let ok = true;
    const number = (el) => {
      const v = el.value.trim();
      const good = /^[+-]?(\d+\.?\d*|\.\d+)([eE][+-]?\d+)?$/.test(v);
      el.classList.toggle("bad", !good);
      ok = ok && good;
      return v;
    };
    const wl = [number(f.l1), number(f.l2), number(f.ratio)];
    if (wl.join(",") !== "1.5405,1.5443,0.5") args.push("--wavelengths", wl.join(","));
    if (f.title.value !== "") args.push("--title", f.title.value);
    const ct = number(f.count_time);
    if (Number(ct) !== 1) args.push("--count-time", ct);
    const hl = f.header_lines.value.trim();
    const hlGood = hl === "" || /^\d+$/.test(hl);
    f.header_lines.classList.toggle("bad", !hlGood);
    ok = ok && hlGood;
    if (hl !== "") args.push("--header-lines", hl);
    if (f.read_sigma.checked) args.push("--read-sigma");
    if (f.slit.checked) args.push("--slit-correction");
    if (f.write_sigma.checked) args.push("--write-sigma");
    if (f.no_title.checked) args.push("--no-title");
    return ok ? args : null;
  }

  function element(tag, attrs = {}, text) {
    const e = document.createElement(tag);
    Object.assign(e, attrs);
    if (text !== undefined) e.textContent = text;
    return e;
  }

  function plot(box, data) {
    const n = data.intensity.length;
    const x = new Float64Array(n);
    for (let i = 0; i < n; i++) x[i] = data.two_theta_start + i * data.two_theta_step;
    const y = Float64Array.from(data.intensity);
    let log = false;
    const make = () =>
      new uPlot(
        {
          width: Math.max(320, box.clientWidth || 640),
          height: 300,
          scales: { x: { time: false }, y: log ? { distr: 3 } : {} },
          axes: [{ label: "2θ (°)" }, { label: "intensity" }],
          series: [{}, { label: "intensity", stroke: "#36c", width: 1 }],
          cursor: { drag: { x: true, y: false } },
        },
        [x, log ? y.map((v) => (v > 0 ? v : null)) : y],
        box
      );
    let chart = make();
    const toggle = element("label", {}, " log intensity axis");
    const check = element("input", { type: "checkbox" });
    toggle.prepend(check);
    check.addEventListener("change", () => {
      log = check.checked;
      chart.destroy();
      chart = make();
    });
    box.after(toggle);
  }

  function values(data) {
    const t = element("table", { className: "values" });
    const rows = [
      ["Title", data.title],
      ["Read as", data.format],
      ["2θ start", data.two_theta_start],
      ["2θ end", data.two_theta_end],
      ["2θ step", data.two_theta_step],
      ["Points", data.point_count],
      ["Count time (s)", data.count_time],
      ["Wavelengths (Å)", `${data.lambda1} ${data.lambda2}`],
      ["Ratio α2/α1", data.alpha_ratio],
    ];
    for (const [k, v] of rows) {
      const tr = t.insertRow();
      tr.insertCell().textContent = k;
      tr.insertCell().textContent = String(v);
    }
    return t;
  }

  // Reads a file for its values, plot and warnings (the converter's JSON).
  function show(file) {
    const card = file.card;
    card.replaceChildren(element("h3", {}, file.name));
    const args = options();
    if (!args) {
      card.append(element("p", { className: "failure" }, "A field of the form is not a number."));
      return;
    }
    qelda.FS.writeFile(file.name, file.bytes);
    const detect = run(["--detect", file.name]);
    const how = detect.out.join(" ").replace(file.name + ": ", "");
    const r = run(["-q", ...args, "-t", "json", file.name, "/tmp/shown.json"]);
    const left = element("div", { className: "plot" });
    const right = element("div");
    card.append(left, right);
    if (r.status !== 0) {
      for (const l of [...detect.err, ...r.err])
        right.append(element("p", { className: "failure" }, said(l)));
      right.append(element("p", { className: "note" }, `Detected: ${how}`));
      file.ok = false;
      return;
    }
    const data = JSON.parse(new TextDecoder().decode(qelda.FS.readFile("/tmp/shown.json")));
    file.ok = true;
    right.append(values(data), element("p", { className: "note" }, `Detected: ${how}`));
    for (const w of data.warnings || []) right.append(element("p", { className: "warning" }, `Warning: ${w}`));
    plot(left, data);
    card.append(element("div", { className: "downloads" }));
  }

  // Converts one file to the chosen format: the output named as a batch of
  // qelda-convert names it, offered for download.
  function convert(file) {
    const links = file.card.querySelector(".downloads");
    if (!links || !file.ok) return;
    const args = options();
    if (!args) return;
    const format = form.elements.format.value;
    try {
      qelda.FS.mkdir("/out");
    } catch (e) {}
    for (const old of qelda.FS.readdir("/out")) if (old !== "." && old !== "..") qelda.FS.unlink("/out/" + old);
    qelda.FS.writeFile(file.name, file.bytes);
    const r = run(["-q", ...args, "-t", format, "-o", "/out", file.name]);
    const made = qelda.FS.readdir("/out").filter((n) => n !== "." && n !== "..");
    if (r.status !== 0 || made.length !== 1) {
      for (const l of r.err) links.append(element("p", { className: "failure" }, said(l)));
      return;
    }
    for (const l of r.err) links.append(element("p", { className: "warning" }, said(l)));
    const bytes = qelda.FS.readFile("/out/" + made[0]);
    file.outputs = [{ name: made[0], bytes }];
    const a = element("a", { download: made[0], href: URL.createObjectURL(new Blob([bytes])) }, `Download ${made[0]}`);
    a.className = "download";
    links.append(a);
  }

  function add(list) {
    for (const f of list) {
      f.arrayBuffer().then((buffer) => {
        // Names are file names only: no folders in the module's memory.
        const name = f.name.replace(/[\\/]/g, "_") || "input";
        const file = { name, bytes: new Uint8Array(buffer), card: element("article", { className: "file" }), outputs: [] };
        files.push(file);
        results.append(file.card);
        show(file);
        $("convert").disabled = $("zip").disabled = false;
      });
    }
  }

  function zipAll() {
    const entries = {};
    for (const f of files) for (const o of f.outputs) entries[o.name] = o.bytes;
    const zipped = fflate.zipSync(entries, { level: 6 });
    const a = element("a", { download: "qelda-outputs.zip", href: URL.createObjectURL(new Blob([zipped])) });
    document.body.append(a);
    a.click();
    a.remove();
  }

  const drop = $("drop");
  drop.addEventListener("dragover", (e) => {
    e.preventDefault();
    drop.classList.add("over");
  });
  drop.addEventListener("dragleave", () => drop.classList.remove("over"));
  drop.addEventListener("drop", (e) => {
    e.preventDefault();
    drop.classList.remove("over");
    add(e.dataTransfer.files);
  });
  $("files").addEventListener("change", (e) => add(e.target.files));
  $("convert").addEventListener("click", () => {
    for (const f of files) {
      show(f);
      convert(f);
    }
  });
  $("zip").addEventListener("click", zipAll);
  form.addEventListener("change", () => options());

  QeldaModule({
    print: (l) => lines.out.push(l),
    printErr: (l) => lines.err.push(l),
  }).then((m) => {
    qelda = m;
    qelda.FS.mkdir("/work");
    qelda.FS.chdir("/work");
    // The written formats, as qelda-convert lists them.
    const list = run(["--list-formats"]);
    const select = $("format");
    for (const l of list.out) {
      const m2 = /^ {2}(\S+)\s+(.+?)\s{2,}(read, write|write)\b/.exec(l);
      if (m2) select.append(element("option", { value: m2[1] }, `${m2[2]} (${m2[1]})`));
    }
    $("status").textContent = "Ready. NeXus (HDF5) files cannot be read here.";
    document.body.dataset.ready = "1";
  });
})();
