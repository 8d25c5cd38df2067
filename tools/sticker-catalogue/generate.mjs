#!/usr/bin/env node
// Builds resources/stickers.json from the Noto Animated Emoji list in the pinned
// @remotion/animated-emoji package and the shortcodes of resources/emoji.json.
//
//   node generate.mjs [--emoji path] [--output path]
//
// One catalogue element per line keeps regenerations reviewable as diffs.

import { readFileSync, writeFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';
import { parseArgs } from 'node:util';

const require = createRequire(import.meta.url);
const here = dirname(fileURLToPath(import.meta.url));

// The package's entry point pulls in its rendering framework; the id list is a plain data module.
const packageRoot = dirname(require.resolve('@remotion/animated-emoji/package.json'));
const { emojis: animations } = require(join(packageRoot, 'dist/cjs/emoji-data.js'));

const SKIN_TONES = new Map([
    [0x1f3fb, 'light skin tone'],
    [0x1f3fc, 'medium-light skin tone'],
    [0x1f3fd, 'medium skin tone'],
    [0x1f3fe, 'medium-dark skin tone'],
    [0x1f3ff, 'dark skin tone'],
]);

function parseOptions(argv) {
    const { values } = parseArgs({
        args: argv,
        options: {
            emoji: { type: 'string', default: resolve(here, '../../resources/emoji.json') },
            output: { type: 'string', default: resolve(here, '../../resources/stickers.json') },
            help: { type: 'boolean', short: 'h', default: false },
        },
    });
    if (values.help) {
        console.log('usage: node generate.mjs [--emoji FILE] [--output FILE]');
        process.exit(0);
    }
    return values;
}

// Emoji are matched by their code points with U+FE0F ignored: the CDN ids and our catalogue
// disagree on where the variation selector goes.
const keyOf = (codePoints) => codePoints.filter((c) => c !== 0xfe0f).join('-');

function main() {
    const options = parseOptions(process.argv.slice(2));
    const catalogue = JSON.parse(readFileSync(options.emoji, 'utf8'));
    const byKey = new Map();
    for (const entry of catalogue) {
        byKey.set(keyOf([...entry.emoji].map((c) => c.codePointAt(0))), entry);
    }

    const seen = new Set();
    const stickers = [];
    const unmatched = [];
    for (const animation of animations) {
        const id = animation.codepoint;
        if (!/^[0-9a-f]+(_[0-9a-f]+)*$/.test(id)) throw new Error(`unexpected CDN id "${id}"`);
        if (seen.has(id)) continue;
        seen.add(id);

        const codePoints = id.split('_').map((h) => parseInt(h, 16));
        const tone = codePoints.find((c) => SKIN_TONES.has(c));
        const base = byKey.get(keyOf(codePoints.filter((c) => !SKIN_TONES.has(c))));
        if (!base) unmatched.push(`${id} (${animation.name})`);

        let name = base ? base.name : animation.name.replaceAll('-', ' ');
        if (tone !== undefined) name += `: ${SKIN_TONES.get(tone)}`;

        const keywords = [];
        const add = (word) => {
            if (word && !/[\s:]/.test(word) && !keywords.includes(word)) keywords.push(word);
        };
        for (const tag of animation.tags) add(tag.replace(/^:+|:+$/g, ''));
        for (const alias of base ? base.aliases : []) add(alias);
        if (keywords.length === 0) add(animation.name);

        stickers.push({ id, fileName: `${id}.gif`, keywords, name, isAnimated: true, isBundled: false });
    }

    writeFileSync(options.output, `[\n${stickers.map((s) => JSON.stringify(s)).join(',\n')}\n]\n`);
    console.log(`${stickers.length} stickers written to ${options.output}`);
    if (unmatched.length) console.log(`not in the emoji catalogue (named from the animation): ${unmatched.join(', ')}`);
}

main();
