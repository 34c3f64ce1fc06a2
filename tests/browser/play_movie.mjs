// Plays a movie in the system Chromium, headless, the way a viewer's browser gets it:
// over HTTP from a server that answers Range requests. Passes (exit 0) when the <video>
// element can play, seeks to the middle and keeps playing from there. Prints what it saw.
//   node play_movie.mjs movie.mp4
import fs from 'node:fs';
import http from 'node:http';
import puppeteer from 'puppeteer-core';

const movie = process.argv[2];
const size = fs.statSync(movie).size;

const server = http.createServer((request, response) => {
  if (request.url !== '/movie.mp4') {
    response.writeHead(200, { 'Content-Type': 'text/html' });
    response.end('<video id="v" muted preload="auto" src="/movie.mp4"></video>');
    return;
  }
  const range = /bytes=(\d*)-(\d*)/.exec(request.headers.range ?? '');
  const start = range && range[1] !== '' ? Number(range[1]) : 0;
  const end = range && range[2] !== '' ? Math.min(Number(range[2]), size - 1) : size - 1;
  const headers = { 'Content-Type': 'video/mp4', 'Accept-Ranges': 'bytes', 'Content-Length': end - start + 1 };
  if (range) headers['Content-Range'] = `bytes ${start}-${end}/${size}`;
  response.writeHead(range ? 206 : 200, headers);
  fs.createReadStream(movie, { start, end }).pipe(response);
});
await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));

const browser = await puppeteer.launch({
  executablePath: process.env.TOLVANE_CHROMIUM ?? '/usr/bin/chromium',
  headless: true,
  args: ['--no-sandbox', '--autoplay-policy=no-user-gesture-required', '--mute-audio'],
});
let result;
try {
  const page = await browser.newPage();
  await page.goto(`http://127.0.0.1:${server.address().port}/`);
  result = await page.evaluate(async () => {
    const video = document.getElementById('v');
    // Resolves once `ready()` holds, checked now and at every `event`.
    const until = (event, ready) => new Promise((resolve, reject) => {
      if (ready()) return resolve();
      video.addEventListener(event, () => ready() && resolve());
      video.addEventListener('error', () => reject(new Error(`media error ${video.error?.code}: ${video.error?.message}`)));
    });
    await until('canplay', () => video.readyState >= 3);
    const seen = { duration: video.duration, readyState: video.readyState };
    const middle = video.duration / 2;
    let seeked = false;
    video.addEventListener('seeked', () => { seeked = true; }, { once: true });
    video.currentTime = middle;
    await until('seeked', () => seeked);
    seen.afterSeek = video.currentTime;
    await video.play();
    await until('timeupdate', () => video.currentTime > middle + 0.5);
    seen.playedTo = video.currentTime;
    return seen;
  });
} catch (error) {
  result = { error: String(error) };
} finally {
  await browser.close();
  server.close();
}
console.log(JSON.stringify(result));
const ok = !result.error && Number.isFinite(result.duration) && Math.abs(result.afterSeek - result.duration / 2) < 1;
process.exit(ok ? 0 : 1);
